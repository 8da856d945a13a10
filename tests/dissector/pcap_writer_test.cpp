// etlan-sim's capture file, read back without tshark: clients on several
// threads talk to two stations at once, then every packet of the file must
// be well-formed, each connection's streams must hold exactly the bytes
// that went each way, in order, with sequence and acknowledgement numbers
// that follow them, and answers sent in pieces must be one segment each.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/test_socket.h"
#include "tools/sim/pcap_writer.h"
#include "tools/sim/simulator.h"

namespace {

using etl::sim::Bcc;
using etl::testnet::Socket;

std::string Request(int station, const std::string& body) {
    char head[4];
    std::snprintf(head, sizeof head, "%%%02d", station);
    std::string text = std::string(head) + "#" + body + "**\r";
    std::string frame(12, '\0');
    frame[0] = 0x10;
    frame[2] = static_cast<char>(text.size());
    frame[10] = static_cast<char>(station);
    frame[11] = 10;
    return frame + text;
}

// Sends each request and reads its answer up to the CR; returns the bytes
// sent and received.
std::pair<std::string, std::string> Talk(std::uint16_t port, int station, int requests) {
    std::string sent, got;
    Socket s = etl::testnet::ConnectStart(port);
    if (s == etl::testnet::kNoSocket || !etl::testnet::ConnectWait(s, 2000)) return {};
    for (int i = 0; i < requests; ++i) {
        char body[32];
        std::snprintf(body, sizeof body, "RDD%05d%05d", i, i + i % 3);
        std::string frame = Request(station, body);
        if (!etl::testnet::SendAll(s, frame.data(), static_cast<int>(frame.size()))) break;
        sent += frame;
        std::string answer;
        while (answer.empty() || answer.back() != '\r') {
            char buf[512];
            int n = etl::testnet::Recv(s, buf, sizeof buf);
            if (n <= 0) return {};
            answer.append(buf, static_cast<std::size_t>(n));
        }
        got += answer;
    }
    etl::testnet::Close(s);
    return {sent, got};
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint32_t Be16(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) << 8 |
           static_cast<unsigned char>(b[at + 1]);
}
std::uint32_t Be32(const std::string& b, std::size_t at) {
    return Be16(b, at) << 16 | Be16(b, at + 2);
}

// One direction of a connection as the file tells it.
struct Direction {
    bool synSeen = false;
    std::uint32_t next = 0;  // the sequence number the next segment must carry
    std::string bytes;
    std::vector<std::size_t> segments;
    bool fin = false;
};

TEST(PcapWriter, ConnectionsOnSeveralThreadsReadBackByteForByte) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("etl_pcap_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".pcap")).string();
    etl::sim::PcapWriter writer;
    ASSERT_TRUE(writer.Open(path));
    int ports[2] = {0, 0};
    std::vector<std::pair<std::string, std::string>> results(4);  // client i talks to station 1 + i % 2
    {
        etl::sim::Simulator sim;
        sim.SetRecorder(&writer);
        ports[0] = sim.AddStation(1);
        ports[1] = sim.AddStation(2);
        ASSERT_GT(ports[0], 0);
        ASSERT_GT(ports[1], 0);
        etl::sim::Faults pieces;
        pieces.pieceBytes = 5;  // station 2 answers in pieces of 5 bytes
        sim.SetFaults(2, pieces);
        ASSERT_TRUE(sim.Start());
        std::vector<std::thread> clients;
        for (int i = 0; i < 4; ++i) {
            clients.emplace_back([&, i] {
                int station = 1 + i % 2;
                results[static_cast<std::size_t>(i)] =
                    Talk(static_cast<std::uint16_t>(ports[i % 2]), station, 25);
            });
        }
        for (auto& t : clients) t.join();
        for (const auto& r : results) {
            ASSERT_FALSE(r.first.empty());
            ASSERT_FALSE(r.second.empty());
        }
        // The clients closed first: wait until the stations have seen it, so
        // every connection ends with the client's FIN and the station's.
        for (int wait = 0; wait < 400 && sim.Open(1) + sim.Open(2) > 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(sim.Open(1) + sim.Open(2), 0);
    }
    ASSERT_TRUE(writer.Close());

    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    ASSERT_GE(file.size(), 24u);
    EXPECT_EQ(Le32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(Le32(file, 20), 1u);  // Ethernet

    std::map<std::pair<std::uint16_t, std::uint16_t>, Direction> flows;  // (from, to)
    std::size_t at = 24;
    int packets = 0;
    while (at < file.size()) {
        ASSERT_LE(at + 16, file.size());
        std::uint32_t len = Le32(file, at + 8);
        ASSERT_EQ(len, Le32(file, at + 12));
        ASSERT_LE(at + 16 + len, file.size());
        std::string p = file.substr(at + 16, len);
        at += 16 + len;
        ++packets;
        ASSERT_GE(p.size(), 54u);
        ASSERT_EQ(Be16(p, 12), 0x0800u);
        const std::string ip = p.substr(14);
        ASSERT_EQ(static_cast<unsigned char>(ip[0]), 0x45);
        ASSERT_EQ(Be16(ip, 2), ip.size());
        EXPECT_EQ(Be32(ip, 12), 0x7F000001u);
        EXPECT_EQ(Be32(ip, 16), 0x7F000001u);
        const std::string tcp = ip.substr(20);
        const auto from = static_cast<std::uint16_t>(Be16(tcp, 0));
        const auto to = static_cast<std::uint16_t>(Be16(tcp, 2));
        const std::uint32_t seq = Be32(tcp, 4);
        const std::uint32_t ack = Be32(tcp, 8);
        const auto flags = static_cast<unsigned char>(tcp[13]);
        const std::string payload = tcp.substr(20);
        Direction& d = flows[{from, to}];
        Direction& back = flows[{to, from}];
        if (flags & 0x02) {  // SYN
            EXPECT_TRUE(payload.empty());
            d = Direction{};
            d.synSeen = true;
            d.next = seq + 1;
            if (flags & 0x10) {
                EXPECT_EQ(ack, back.next);
            }
            continue;
        }
        ASSERT_TRUE(d.synSeen) << "a segment before the handshake";
        EXPECT_EQ(seq, d.next);
        EXPECT_TRUE(flags & 0x10);
        EXPECT_EQ(ack, back.next);
        if (!payload.empty()) d.segments.push_back(payload.size());
        d.bytes += payload;
        d.next += static_cast<std::uint32_t>(payload.size());
        if (flags & 0x01) {
            d.fin = true;
            d.next += 1;
        }
    }
    // 4 connections: handshake (3), at least 50 data segments, close (3).
    EXPECT_GE(packets, 4 * 56);
    for (int station = 0; station < 2; ++station) {
        const auto port = static_cast<std::uint16_t>(ports[station]);
        std::vector<std::string> requests, answers, expectedRequests, expectedAnswers;
        for (int i = station; i < 4; i += 2) {
            expectedRequests.push_back(results[static_cast<std::size_t>(i)].first);
            expectedAnswers.push_back(results[static_cast<std::size_t>(i)].second);
        }
        for (const auto& [k, d] : flows) {
            if (k.second != port) continue;
            const Direction& answer = flows[{k.second, k.first}];
            EXPECT_TRUE(d.fin);
            EXPECT_TRUE(answer.fin);
            requests.push_back(d.bytes);
            answers.push_back(answer.bytes);
            for (std::size_t n : answer.segments) {
                if (station == 1) {
                    EXPECT_LE(n, 5u);  // every piece a segment of its own
                }
            }
            if (station == 0) {
                // whole answers: every segment ends with an answer's CR
                std::size_t end = 0;
                for (std::size_t n : answer.segments) {
                    end += n;
                    EXPECT_EQ(answer.bytes[end - 1], '\r');
                }
            }
        }
        // The connections' order in the file follows the accepts; compare
        // them as sets.
        std::sort(requests.begin(), requests.end());
        std::sort(answers.begin(), answers.end());
        std::sort(expectedRequests.begin(), expectedRequests.end());
        std::sort(expectedAnswers.begin(), expectedAnswers.end());
        EXPECT_EQ(requests, expectedRequests) << "station " << station + 1;
        EXPECT_EQ(answers, expectedAnswers) << "station " << station + 1;
    }
}

}  // namespace
