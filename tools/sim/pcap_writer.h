// A capture file of what the simulator's connections carry (etlan-sim
// --record FILE): the classic pcap format, link type Ethernet, each
// connection a TCP stream between 127.0.0.1:client port and
// 127.0.0.1:station port with its handshake, correct sequence and
// acknowledgement numbers, IP and TCP checksums, and its close. Written
// from the simulator's side without a capture driver, so it needs no
// privileges: each recv the station made is one segment of the client, each
// send one segment of the station (answers sent in pieces are pieces on the
// wire, requests that arrived together are one segment).
//
// Thread-safe: the stations' threads report to one writer; every packet is
// written whole and flushed, so the file is readable while it grows and
// after the simulator is killed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "tools/sim/simulator.h"

namespace etl::sim {

class PcapWriter : public Recorder {
public:
    PcapWriter() = default;
    ~PcapWriter() override;
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates (or truncates) the file and writes the file header; false when
    // it cannot be written.
    bool Open(const std::string& path);
    // Closes the file; false when any write since Open failed.
    bool Close();

    void Opened(std::uint16_t clientPort, std::uint16_t stationPort) override;
    void Carried(std::uint16_t clientPort, std::uint16_t stationPort, bool fromClient,
                 std::string_view bytes) override;
    void Closed(std::uint16_t clientPort, std::uint16_t stationPort, bool byClient) override;

    // The largest TCP payload of one packet; longer data go in several.
    static constexpr std::size_t kMaxSegment = 65483;

private:
    struct Flow {
        std::uint32_t clientSeq = 0;   // next sequence number of the client
        std::uint32_t stationSeq = 0;  // next sequence number of the station
    };
    using Key = std::pair<std::uint16_t, std::uint16_t>;  // client port, station port

    Flow& FlowOf(const Key& key);  // with the handshake when it is new
    void Packet(const Key& key, bool fromClient, std::uint8_t flags, std::string_view payload);

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::uint16_t ipId_ = 1;
    std::map<Key, Flow> flows_;
};

}  // namespace etl::sim
