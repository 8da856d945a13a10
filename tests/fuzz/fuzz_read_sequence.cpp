// Several reads of data registers of station 1, or of station 2, which
// reads from a scan (VpiMain code 5), one after the other on the same
// connection, against a station that answers each
// request correctly but at scripted times, on the in-memory socket
// platform (the instance of fuzz_instance.h). A read that fails with 2 is
// followed by a WarmStart (code 2), as a host reconnects a lost station.
//
// Input: the count of reads (1 + byte modulo 6; bit 7: station 2), per
// read its address
// (u16, modulo 10000), then per request the station gets: flags (bits 0-1:
// 0 answer, 1 answer then the end of the stream, 2 nothing, 3 a reset of
// the connection), piece seed (0: one piece), pause between pieces (ms),
// delay of the answer in units of 10 ms.
//
// Checked: a read reported with result 0 holds the value of its own
// address, never the late answer of an earlier request; a failed read
// leaves its buffer at 0; the call blocks for a bounded time of the clock.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/blocks.h"
#include "tests/fuzz/answer_check.h"
#include "tests/fuzz/fuzz_instance.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/memory_platform/memory_platform.h"

namespace {

using etl::fuzz::ByteReader;
using etl::fuzz::CallDriver;
using etl::fuzz::Hex2;
using etl::fuzz::kMaxBlockMs;
namespace mem = etl::memplat;

std::uint16_t Load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The value that the answering station keeps at data register address a.
std::uint16_t RegisterValue(unsigned a) { return static_cast<std::uint16_t>(a * 40503u + 0x1234u); }

// How the answering station treats one request: the timing of its answer.
struct Timing {
    std::uint8_t flags = 0;  // bits 0-1: answer, answer then end, nothing, reset
    std::uint8_t pieceSeed = 0;
    std::uint8_t pauseMs = 0;
    std::uint32_t delayMs = 0;
};

// A station that answers every read of data registers with the values
// that RegisterValue gives, each answer at the time its script says: a
// value reported for the wrong address is an answer taken for a request it
// does not belong to.
class AnsweringStation : public mem::Peer {
public:
    void Script(std::vector<Timing> timings) {
        timings_ = std::move(timings);
        next_ = 0;
    }

    void OnData(mem::Link& link, std::string_view frame) override {
        const Timing t = next_ < timings_.size() ? timings_[next_] : Timing{};
        ++next_;
        const int action = t.flags & 3;
        if (action == 2) return;
        if (action == 3) {
            link.Reset();
            return;
        }
        // "%" station "#RDD" start (5 digits) end (5 digits) "**" CR, behind
        // the header; a next-part request is not expected (no answer is
        // long enough for parts).
        const std::string_view text = frame.size() > 12 ? frame.substr(12) : std::string_view();
        if (text.size() != 20 || text[0] != '%' || text.substr(3, 4) != "#RDD") return;
        unsigned start = 0;
        unsigned end = 0;
        for (std::size_t i = 0; i < 5; ++i) {
            start = start * 10 + static_cast<unsigned>(text[7 + i] - '0');
            end = end * 10 + static_cast<unsigned>(text[12 + i] - '0');
        }
        std::string answer = "%";
        answer += text.substr(1, 2);
        answer += "$RD";
        for (unsigned a = start; a <= end && a < start + 60; ++a) {
            const std::uint16_t v = RegisterValue(a);
            answer += Hex2(v & 0xFFu) + Hex2(v >> 8);
        }
        std::uint8_t bcc = 0;
        for (char c : answer) bcc ^= static_cast<std::uint8_t>(c);
        answer += Hex2(bcc) + "\r";
        std::string bytes(12, '\0');
        bytes[0] = 0x10;
        bytes[2] = static_cast<char>(answer.size());
        bytes[11] = 1;
        bytes += answer;
        std::uint32_t seed = t.pieceSeed;
        std::uint32_t delay = t.delayMs;
        std::size_t pos = 0;
        while (pos < bytes.size()) {
            std::size_t n = bytes.size() - pos;
            if (seed != 0) {
                seed = seed * 1103515245u + 12345u;
                n = std::min<std::size_t>(n, 1 + ((seed >> 16) % 16));
            }
            link.Deliver(std::string_view(bytes).substr(pos, n), delay);
            pos += n;
            delay = t.pauseMs;
        }
        if (action == 1) link.Close(delay);
    }

private:
    std::vector<Timing> timings_;
    std::size_t next_ = 0;
};

AnsweringStation g_answering;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    etl::fuzz::StartInstance(&g_answering);
    ByteReader in(data, size);
    const std::uint8_t head = in.U8();
    const int reads = 1 + (head & 0x7F) % 6;
    const int station = (head & 0x80) != 0 ? etl::fuzz::kScanStation : 1;
    std::vector<unsigned> addresses;
    for (int i = 0; i < reads; ++i) addresses.push_back(in.U16() % 10000u);
    std::vector<Timing> timings;
    while (!in.Empty() && timings.size() < 32) {
        Timing t;
        t.flags = in.U8();
        t.pieceSeed = in.U8();
        t.pauseMs = in.U8();
        t.delayMs = 10u * in.U8();
        timings.push_back(t);
    }
    g_answering.Script(std::move(timings));
    mem::Serve(mem::Loopback(), mem::Port(9094), &g_answering);
    mem::SetNow(1000);
    etl::WarmStartBlock warm{station};
    CallDriver(2, &warm);

    for (const unsigned address : addresses) {
        char text[16];
        std::snprintf(text, sizeof text, "%02dD%05u", station, address);
        std::uint8_t buffer[4];
        std::memset(buffer, 0xEE, sizeof buffer);
        etl::TagIoBlock tag{};
        tag.addressText = text;
        tag.plcNumber = station;
        tag.memoryLetter = 'D';
        tag.addressNumber = address;
        tag.bitNumber = 255;
        tag.bitSize = 16;
        tag.dataType = 0;
        tag.elementCount = 1;
        tag.valueBuffer = buffer;
        const std::uint32_t before = mem::Now();
        const std::int32_t result = CallDriver(5, &tag);
        ETL_FUZZ_CHECK(mem::Now() - before <= kMaxBlockMs);
        ETL_FUZZ_CHECK(Load16(&buffer[0]) == 0);
        if (result == 0) {
            // The value of this address, never that of an earlier request.
            ETL_FUZZ_CHECK(Load16(&buffer[2]) == RegisterValue(address));
        } else {
            ETL_FUZZ_CHECK(Load16(&buffer[2]) == 0);
        }
        if (result == 2) CallDriver(2, &warm);
    }
    return 0;
}
