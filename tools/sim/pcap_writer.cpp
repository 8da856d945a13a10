// The capture file of etlan-sim --record: pcap headers, Ethernet, IPv4 and
// TCP built byte by byte, all multi-byte fields in the order each format
// prescribes (the file's own headers little-endian, the packets' in network
// order), so the file is the same on every machine.
#include "tools/sim/pcap_writer.h"

#include <chrono>
#include <string>

namespace etl::sim {

namespace {

constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kPsh = 0x08;
constexpr std::uint8_t kAck = 0x10;

constexpr std::uint32_t kLinkTypeEthernet = 1;
constexpr std::uint32_t kSnapLength = 262144;
constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
constexpr std::size_t kEthernetSize = 14;
constexpr std::size_t kIpSize = 20;
constexpr std::size_t kTcpSize = 20;

void Le32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Le16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Be16(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}
void Be32(std::string& out, std::uint32_t v) {
    Be16(out, v >> 16);
    Be16(out, v & 0xFFFF);
}

// The Internet checksum (RFC 1071) over bytes, starting from sum.
std::uint16_t Checksum(std::string_view bytes, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        sum += (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 8) |
               static_cast<unsigned char>(bytes[i + 1]);
    }
    if (bytes.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.back())) << 8;
    }
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void PutBe16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v >> 8);
    out[at + 1] = static_cast<char>(v & 0xFF);
}

// Initial sequence numbers: fixed per port pair, so a capture of the same
// session reads the same.
std::uint32_t InitialSeq(std::uint16_t from, std::uint16_t to) {
    return 0x1000u + static_cast<std::uint32_t>(from) * 40503u + static_cast<std::uint32_t>(to) * 7u;
}

}  // namespace

PcapWriter::~PcapWriter() { Close(); }

bool PcapWriter::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    flows_.clear();
    failed_ = false;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return false;
    std::string header;
    Le32(header, 0xA1B2C3D4);  // microsecond time stamps
    Le16(header, 2);
    Le16(header, 4);
    Le32(header, 0);  // time zone: UTC
    Le32(header, 0);  // accuracy
    Le32(header, kSnapLength);
    Le32(header, kLinkTypeEthernet);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fflush(file_) != 0) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

bool PcapWriter::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

PcapWriter::Flow& PcapWriter::FlowOf(const Key& key) {
    auto it = flows_.find(key);
    if (it != flows_.end()) return it->second;
    Flow& flow = flows_[key];
    flow.clientSeq = InitialSeq(key.first, key.second);
    flow.stationSeq = InitialSeq(key.second, key.first);
    // The three-way handshake: SYN and SYN-ACK take one sequence number each.
    Packet(key, true, kSyn, {});
    ++flow.clientSeq;
    Packet(key, false, kSyn | kAck, {});
    ++flow.stationSeq;
    Packet(key, true, kAck, {});
    return flow;
}

void PcapWriter::Opened(std::uint16_t clientPort, std::uint16_t stationPort) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) return;
    Key key{clientPort, stationPort};
    flows_.erase(key);  // a port pair used again is a new connection
    FlowOf(key);
}

void PcapWriter::Carried(std::uint16_t clientPort, std::uint16_t stationPort, bool fromClient,
                         std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) return;
    Key key{clientPort, stationPort};
    Flow& flow = FlowOf(key);
    while (!bytes.empty()) {
        std::string_view piece = bytes.substr(0, kMaxSegment);
        bytes.remove_prefix(piece.size());
        Packet(key, fromClient, kPsh | kAck, piece);
        (fromClient ? flow.clientSeq : flow.stationSeq) += static_cast<std::uint32_t>(piece.size());
    }
}

void PcapWriter::Closed(std::uint16_t clientPort, std::uint16_t stationPort, bool byClient) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) return;
    Key key{clientPort, stationPort};
    if (flows_.count(key) == 0) return;
    Flow& flow = flows_[key];
    // The side that closes sends FIN; the other acknowledges it and closes
    // too when the client began (a station that closes does not learn when
    // the client does, so its capture ends with the acknowledgement).
    auto fin = [&](bool fromClient) {
        Packet(key, fromClient, kFin | kAck, {});
        ++(fromClient ? flow.clientSeq : flow.stationSeq);
    };
    fin(byClient);
    if (byClient) {
        fin(false);
        Packet(key, true, kAck, {});
    } else {
        Packet(key, true, kAck, {});
    }
    flows_.erase(key);
}

void PcapWriter::Packet(const Key& key, bool fromClient, std::uint8_t flags,
                        std::string_view payload) {
    if (file_ == nullptr || failed_) return;
    const Flow& flow = flows_[key];
    const std::uint16_t sport = fromClient ? key.first : key.second;
    const std::uint16_t dport = fromClient ? key.second : key.first;
    const std::uint32_t seq = fromClient ? flow.clientSeq : flow.stationSeq;
    const std::uint32_t ack = (flags & kAck) != 0 ? (fromClient ? flow.stationSeq : flow.clientSeq) : 0;

    std::string tcp;
    Be16(tcp, sport);
    Be16(tcp, dport);
    Be32(tcp, seq);
    Be32(tcp, ack);
    tcp += static_cast<char>((kTcpSize / 4) << 4);
    tcp += static_cast<char>(flags);
    Be16(tcp, 65535);  // window
    Be16(tcp, 0);      // checksum, filled below
    Be16(tcp, 0);      // urgent pointer
    tcp.append(payload);
    // The pseudo-header: addresses, protocol, TCP length.
    std::uint32_t pseudo = 2 * ((kLoopback >> 16) + (kLoopback & 0xFFFF)) + 6 +
                           static_cast<std::uint32_t>(tcp.size());
    PutBe16(tcp, 16, Checksum(tcp, pseudo));

    std::string ip;
    ip += static_cast<char>(0x45);  // version 4, 20-byte header
    ip += static_cast<char>(0);
    Be16(ip, static_cast<std::uint32_t>(kIpSize + tcp.size()));
    Be16(ip, ipId_++);
    Be16(ip, 0x4000);  // don't fragment
    ip += static_cast<char>(64);  // time to live
    ip += static_cast<char>(6);   // TCP
    Be16(ip, 0);
    Be32(ip, kLoopback);
    Be32(ip, kLoopback);
    PutBe16(ip, 10, Checksum(ip));

    std::string frame(12, '\0');  // destination and source MAC of the loopback device
    Be16(frame, 0x0800);         // IPv4
    frame += ip;
    frame += tcp;

    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    std::string record;
    Le32(record, static_cast<std::uint32_t>(now / 1000000));
    Le32(record, static_cast<std::uint32_t>(now % 1000000));
    Le32(record, static_cast<std::uint32_t>(frame.size()));
    Le32(record, static_cast<std::uint32_t>(frame.size()));
    record += frame;
    if (std::fwrite(record.data(), 1, record.size(), file_) != record.size() ||
        std::fflush(file_) != 0) {
        failed_ = true;
    }
    static_assert(kEthernetSize + kIpSize + kTcpSize + kMaxSegment <= kSnapLength);
}

}  // namespace etl::sim
