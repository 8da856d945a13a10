// Helper of tests/dissector/dissector_test.sh, two jobs:
//
//   capture_helper client PORT CAPTURE < SCRIPT
//     A raw client of one simulated station: sends the texts of the script
//     behind the ET-LAN header and waits for their answers, so the
//     simulator's capture (CAPTURE, the file it records to) holds commands
//     the driver never sends (every command kind, wrong BCCs, malformed
//     texts). Script lines:
//       frame TEXT           one frame, waits for one answer
//       silent TEXT          one frame that gets no answer (waits until
//                            the capture holds it)
//       together TEXT|TEXT   two frames in one send, waits for two answers
//       split N TEXT         the frame's first N bytes, and once the
//                            capture holds them as a segment, the rest
//     In TEXT, "{bcc}" stands for the block check code of what precedes
//     it and "\r" for CR. Exit status 1 when an answer does not come.
//
//   capture_helper fuzz FILE.pcap SEED
//     A capture of malformed traffic for the dissector: every truncation of
//     valid frames, frames with wrong lengths and texts, random bytes and
//     random changes of valid frames, in segments of random sizes, in both
//     directions, on port 9094. Deterministic for a seed.
//
//   capture_helper lookalike FILE.pcap
//     One ET-LAN exchange on port 9096, which the dissector's heuristic must
//     find, and on ports 5001 to 5008 TCP streams it must leave alone: other
//     protocols (one whose first byte is also 0x10) and frames that miss
//     one of its checks.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_socket.h"
#include "tools/sim/pcap_writer.h"
#include "tools/sim/simulator.h"

namespace {

using etl::testnet::Socket;

std::string Expand(const std::string& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in.compare(i, 5, "{bcc}") == 0) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", etl::sim::Bcc(out));
            out += hex;
            i += 4;
        } else if (in.compare(i, 2, "\\r") == 0) {
            out += '\r';
            ++i;
        } else {
            out += in[i];
        }
    }
    return out;
}

// The text behind its header: destination the text's station (hex), source 10.
std::string Frame(const std::string& text) {
    std::uint8_t dst = 1;
    const std::uint8_t src = 10;
    if (text.size() >= 3 && text[0] == '%') {
        dst = static_cast<std::uint8_t>(std::strtoul(text.substr(1, 2).c_str(), nullptr, 16));
    }
    std::string f(12, '\0');
    f[0] = 0x10;
    f[2] = static_cast<char>(text.size() & 0xFF);
    f[3] = static_cast<char>((text.size() >> 8) & 0xFF);
    f[10] = static_cast<char>(dst);
    f[11] = static_cast<char>(src);
    return f + text;
}

// Reads until `answers` texts ending in CR have come, or ms pass.
bool Await(Socket s, int answers, int ms) {
    int seen = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (seen < answers) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        bool readable = false;
        if (etl::testnet::Poll(&s, 1, static_cast<int>(left), &readable) <= 0) continue;
        char buf[4096];
        int n = etl::testnet::Recv(s, buf, sizeof buf);
        if (n <= 0) return false;
        for (int i = 0; i < n; ++i) {
            if (buf[i] == '\r') ++seen;
        }
    }
    return true;
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

// How many segments from a client to the station on port the capture holds
// whose bytes are exactly `bytes`. The simulator records a segment once it
// has read it: a count that grows tells that the station took the bytes,
// and that what is sent next arrives as a segment of its own.
int Recorded(const std::string& capture, std::uint16_t port, const std::string& bytes) {
    std::ifstream in(capture, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t kHeaders = 14 + 20 + 20;  // Ethernet, IPv4, TCP
    int count = 0;
    for (std::size_t at = 24; at + 16 <= file.size();) {
        const std::size_t len = Le32(file, at + 8);
        if (at + 16 + len > file.size()) break;  // still being written
        const std::string packet = file.substr(at + 16, len);
        at += 16 + len;
        if (packet.size() < kHeaders) continue;
        const unsigned to = static_cast<unsigned char>(packet[36]) << 8 | static_cast<unsigned char>(packet[37]);
        if (to == port && packet.compare(kHeaders, std::string::npos, bytes) == 0) ++count;
    }
    return count;
}

// Sends bytes and waits (20 s at most) until the station has read them.
bool SendTaken(Socket s, std::uint16_t port, const std::string& capture, const std::string& bytes) {
    const int before = Recorded(capture, port, bytes);
    if (!etl::testnet::SendAll(s, bytes.data(), static_cast<int>(bytes.size()))) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Recorded(capture, port, bytes) <= before) {
        if (std::chrono::steady_clock::now() >= until) {
            std::fprintf(stderr, "capture_helper: the station did not take %zu bytes\n", bytes.size());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int Client(std::uint16_t port, const std::string& capture) {
    if (!etl::testnet::NetStart()) return 1;
    Socket s = etl::testnet::ConnectStart(port);
    if (s == etl::testnet::kNoSocket || !etl::testnet::ConnectWait(s, 2000)) {
        std::fprintf(stderr, "capture_helper: cannot connect to port %u\n", port);
        return 1;
    }
    int status = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t space = line.find(' ');
        std::string verb = line.substr(0, space);
        std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        std::string out;
        int answers = 1;
        std::size_t cut = 0;
        if (verb == "frame" || verb == "silent") {
            out = Frame(Expand(rest));
            if (verb == "silent") answers = 0;
        } else if (verb == "together") {
            std::size_t bar = rest.find('|');
            out = Frame(Expand(rest.substr(0, bar))) + Frame(Expand(rest.substr(bar + 1)));
            answers = 2;
        } else if (verb == "split") {
            std::size_t sp = rest.find(' ');
            cut = static_cast<std::size_t>(std::atoi(rest.substr(0, sp).c_str()));
            out = Frame(Expand(rest.substr(sp + 1)));
        } else {
            std::fprintf(stderr, "capture_helper: unknown line: %s\n", line.c_str());
            return 1;
        }
        bool sent;
        if (cut > 0 && cut < out.size()) {
            sent = SendTaken(s, port, capture, out.substr(0, cut));
            sent = sent && etl::testnet::SendAll(s, out.data() + cut, static_cast<int>(out.size() - cut));
        } else if (answers == 0) {
            sent = SendTaken(s, port, capture, out);
        } else {
            sent = etl::testnet::SendAll(s, out.data(), static_cast<int>(out.size()));
        }
        if (!sent) {
            std::fprintf(stderr, "capture_helper: send failed: %s\n", line.c_str());
            return 1;
        }
        if (answers != 0 && !Await(s, answers, 2000)) {
            std::fprintf(stderr, "capture_helper: no answer to: %s\n", line.c_str());
            status = 1;
        }
    }
    etl::testnet::Close(s);
    etl::testnet::NetStop();
    return status;
}

int Fuzz(const std::string& path, unsigned seed) {
    etl::sim::PcapWriter w;
    if (!w.Open(path)) return 1;
    std::mt19937 rng(seed);
    auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string valid[] = {
        Frame(Expand("%01#RDD0010000102**\\r")),
        Frame(Expand("%01$RDD204D2167800{bcc}\\r")),
        Frame(Expand("%01#WCSR0105{bcc}\\r")),
        Frame(Expand("%01#WDD003000030067{bcc}\\r")),
        Frame(Expand("%01!61{bcc}\\r")),
        Frame(Expand("%01$RD0102030405060708{bcc}&\\r")),
        Frame(Expand("%01**&\\r")),
        Frame(Expand("%01090A0B0C{bcc}\\r")),
        Frame(Expand("%01#RDIX0000000001**\\r")),
        Frame(Expand("%01#RCCX00000001{bcc}\\r")),
    };
    const std::uint16_t station = 9094;
    std::uint16_t client = 40000;
    // Sends bytes in segments of random sizes on a fresh connection.
    auto connection = [&](const std::string& bytes, bool fromClient) {
        ++client;
        w.Opened(client, station);
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t n = 1 + below(bytes.size() - at);
            w.Carried(client, station, fromClient, std::string_view(bytes).substr(at, n));
            at += n;
        }
        w.Closed(client, station, true);
    };
    // Every truncation of every valid frame, each on a connection of its own
    // (the connection's end cuts it), both directions.
    for (const std::string& v : valid) {
        for (std::size_t len = 1; len < v.size(); ++len) {
            connection(v.substr(0, len), true);
            connection(v.substr(0, len), false);
        }
    }
    // Valid frames with random changes: bytes replaced, the length field
    // changed, bytes inserted or removed; several frames per connection.
    for (int round = 0; round < 400; ++round) {
        std::string bytes;
        int frames = 1 + static_cast<int>(below(4));
        for (int k = 0; k < frames; ++k) {
            std::string v = valid[below(std::size(valid))];
            int changes = 1 + static_cast<int>(below(4));
            for (int c = 0; c < changes && !v.empty(); ++c) {
                switch (below(5)) {
                    case 0: v[below(v.size())] = static_cast<char>(rng()); break;
                    case 1: v[2 + below(2)] = static_cast<char>(rng()); break;
                    case 2: v.insert(below(v.size()), 1, static_cast<char>(rng())); break;
                    case 3: v.erase(below(v.size()), 1); break;
                    default: v[12 + below(v.size() - 12)] = "%#$!&*\r0123456789ABCDEFG"[below(24)]; break;
                }
            }
            bytes += v;
        }
        connection(bytes, round % 2 == 0);
    }
    // Random bytes, and random bytes behind a header.
    for (int round = 0; round < 100; ++round) {
        std::string bytes(1 + below(300), '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        if (round % 2 == 0) bytes = Frame(bytes.substr(0, bytes.size() / 2)) + bytes;
        connection(bytes, round % 3 == 0);
    }
    return w.Close() ? 0 : 1;
}

int Lookalike(const std::string& path) {
    etl::sim::PcapWriter w;
    if (!w.Open(path)) return 1;
    std::uint16_t client = 50000;
    auto stream = [&](std::uint16_t port, const std::string& request, const std::string& answer) {
        ++client;
        w.Opened(client, port);
        w.Carried(client, port, true, request);
        if (!answer.empty()) w.Carried(client, port, false, answer);
        w.Closed(client, port, true);
    };
    const std::string command = Frame(Expand("%01#RDD0010000100**\\r"));
    stream(9096, command, Frame(Expand("%01$RDD204{bcc}\\r")));
    stream(5001, "GET / HTTP/1.1\r\nHost: plc\r\n\r\n", "HTTP/1.1 204 No Content\r\n\r\n");
    // MQTT's CONNECT: 0x10 and the remaining length.
    stream(5002, std::string("\x10\x10\x00\x04MQTT\x04\x02\x00\x3c\x00\x04plc1", 18), "");
    std::string c = command;
    c[5] = 1;  // a reserved byte
    stream(5003, c, "");
    c = command;
    c[2] = 10;  // a length shorter than the text: no CR at its end
    stream(5004, c, "");
    c = command;
    c[2] = 30;  // a length longer than the text: a CR within it
    stream(5005, c, "");
    c = command;
    c[12] = 'X';
    stream(5006, c, "");
    stream(5007, command + "abc", "");  // behind the frame no header
    // A header alone and then no text.
    ++client;
    w.Opened(client, 5008);
    w.Carried(client, 5008, true, command.substr(0, 12));
    w.Carried(client, 5008, true, std::string(20, '\x01'));
    w.Closed(client, 5008, true);
    return w.Close() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "client" && argc == 4) return Client(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3]);
    if (mode == "fuzz" && argc == 4) return Fuzz(argv[2], static_cast<unsigned>(std::atoi(argv[3])));
    if (mode == "lookalike" && argc == 3) return Lookalike(argv[2]);
    std::fprintf(stderr,
                 "usage: capture_helper client PORT CAPTURE < SCRIPT | fuzz FILE.pcap SEED | lookalike FILE.pcap\n");
    return 2;
}
