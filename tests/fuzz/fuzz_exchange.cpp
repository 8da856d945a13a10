// ReadValue, ReadBlock and WriteValue (VpiMain codes 5, 6, 7) against a
// station whose answers are any bytes, delivered in any pieces at any
// times, on the in-memory socket platform. One instance is started once
// with stations 1 to 64 at 127.0.0.1:9094; every input reconnects its
// station with WarmStart (code 2) and scripts the answers to its sends.
//
// Input:
//   operation (0 ReadValue, 1 ReadBlock, 2 WriteValue, modulo 3), PLC
//   number (signed byte), memory letter (an index into the table's letters
//   and a few others, or the byte itself from 0x80 on), bit size selector
//   (1, 16, 32 or the byte), data type (signed byte), element count (signed
//   byte), address number (u16), bit number (byte), the clock's start
//   selector, flags (bit 0 the station refuses the connection; bits 1-3 a
//   platform call to fail, as memplat::Call numbers them, 6 and 7 none;
//   bits 4-7 which call of it), the value to write
//   (u32), the address text (length byte and bytes), stray bytes waiting
//   before the first send (length byte and bytes), then one answer record
//   per send:
//     flags: bits 0-1 0 bytes, 1 bytes then the end of the stream,
//              2 nothing, 3 a reset of the connection;
//            bit 2 the bytes are framed: header, "%", the station, "$",
//              the command code, the bytes, block check code and CR;
//            bit 3 a wrong block check code, bit 4 "**" in its place
//              (framed only); bit 5 the answer starts 1500 ms late;
//            bit 6 the bytes go out as upper-case hex digits (framed only);
//            bit 7 the framed text is a part with more to come ("&" before
//              the CR). An answer to a next-part request "%NN**&" is framed
//              as a further part: "%", the station, the bytes, BCC, CR.
//     piece seed (0: one piece), pause between pieces (ms), length, bytes.
//
// Checked: the value buffer, exactly as large as the request needs, is
// never overrun; a read reported with result 0 was answered, after its last
// command, by complete positive parts of this station (the first echoing the
// command, each further one asked for with "%NN**&") that carry exactly the
// words asked for, and the buffer holds those words; a failed read
// leaves bytes 0 to 3 at 0 (as far as a block's buffer reaches); a write
// reported with result 0 got a positive answer without data; every frame
// sent is well formed (answer_check.h); the call blocks for a bounded time
// of the clock. fuzz_read_sequence covers several reads on one connection.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "stations/station_table.h"
#include "tests/fuzz/answer_check.h"
#include "tests/fuzz/fuzz_instance.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/memory_platform/memory_platform.h"

namespace {

using etl::fuzz::ByteReader;
using etl::fuzz::CallDriver;
using etl::fuzz::CheckSentFrame;
using etl::fuzz::Exchanged;
using etl::fuzz::Hex2;
using etl::fuzz::HexValue;
using etl::fuzz::Instance;
using etl::fuzz::IsNextPartRequest;
using etl::fuzz::kMaxBlockMs;
using etl::fuzz::PositiveAnswers;
using etl::fuzz::TextOf;
namespace mem = etl::memplat;

constexpr char kLetters[] = "XYRLGDTCVSFHI0123456789MNOPQUEZ";

struct Answer {
    std::uint8_t flags = 2;
    std::uint8_t pieceSeed = 0;
    std::uint8_t pauseMs = 0;
    std::string bytes;
};

class ScriptedStation : public mem::Peer {
public:
    void Script(std::vector<Answer> answers, std::string stray, bool refuse, int station) {
        answers_ = std::move(answers);
        next_ = 0;
        stray_ = std::move(stray);
        refuse_ = refuse;
        station_ = station;
        exchanges_.clear();
    }

    // Every chunk the driver sent during this input, with what the station
    // scheduled in answer to it.
    const std::vector<Exchanged>& Exchanges() const { return exchanges_; }

    mem::Accept OnConnect(mem::Link& link) override {
        if (refuse_) return mem::Accept::kRefuse;
        if (!stray_.empty()) link.Deliver(stray_);
        return mem::Accept::kAccept;
    }

    void OnData(mem::Link& link, std::string_view data) override {
        exchanges_.push_back({std::string(data), {}});
        if (next_ >= answers_.size()) return;  // silence
        const Answer& a = answers_[next_++];
        const int action = a.flags & 3;
        if (action == 2) return;
        if (action == 3) {
            link.Reset();
            return;
        }
        const std::string bytes = (a.flags & 4) != 0 ? Framed(a, data) : a.bytes;
        exchanges_.back().answer = bytes;
        std::uint32_t delay = (a.flags & 32) != 0 ? 1500 : 0;
        // Pieces of 1 to 32 bytes, sizes from a small generator.
        std::uint32_t seed = a.pieceSeed;
        std::size_t pos = 0;
        while (pos < bytes.size()) {
            std::size_t n = bytes.size() - pos;
            if (seed != 0) {
                seed = seed * 1103515245u + 12345u;
                n = std::min<std::size_t>(n, 1 + ((seed >> 16) % 32));
            }
            link.Deliver(std::string_view(bytes).substr(pos, n), delay);
            pos += n;
            delay = a.pauseMs;
        }
        if (action == 1) link.Close(delay);
    }

private:
    // The answer text to the frame sent: a further part for a next-part
    // request, otherwise a positive answer echoing the command's code.
    std::string Framed(const Answer& a, std::string_view sent) const {
        std::string data;
        if ((a.flags & 64) != 0) {
            for (unsigned char c : a.bytes) data += Hex2(c);
        } else {
            data = a.bytes;
        }
        const std::string_view text0 = TextOf(sent);
        std::string text = "%" + Hex2(static_cast<unsigned>(station_));
        if (!IsNextPartRequest(text0)) {
            text += "$";
            text += text0.size() >= 6 ? text0.substr(4, 2) : std::string_view("RD");
        }
        text += data;
        std::uint8_t bcc = 0;
        for (char c : text) bcc ^= static_cast<std::uint8_t>(c);
        if ((a.flags & 16) != 0) {
            text += "**";
        } else {
            text += Hex2((a.flags & 8) != 0 ? bcc ^ 0x5Au : bcc);
        }
        if ((a.flags & 128) != 0) text += '&';
        text += '\r';
        std::string header(12, '\0');
        header[0] = 0x10;
        header[2] = static_cast<char>(text.size() & 0xFF);
        header[3] = static_cast<char>((text.size() >> 8) & 0xFF);
        header[10] = 0;
        header[11] = static_cast<char>(station_);
        return header + text;
    }

    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    std::string stray_;
    bool refuse_ = false;
    int station_ = 0;
    std::vector<Exchanged> exchanges_;
};

ScriptedStation g_station;

std::uint16_t Load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    etl::fuzz::StartInstance(&g_station);
    ByteReader in(data, size);
    const int op = in.U8() % 3;
    // The scanning station answers reads from its scan, not with one
    // exchange each: fuzz_read_sequence checks it.
    int plc = static_cast<std::int8_t>(in.U8());
    if (plc == etl::fuzz::kScanStation) plc = 1;
    const std::uint8_t letterByte = in.U8();
    const std::uint8_t sizeByte = in.U8();
    const int dataType = static_cast<std::int8_t>(in.U8());
    const int count = static_cast<std::int8_t>(in.U8());
    const std::uint16_t addressNumber = in.U16();
    const std::uint8_t bitNumber = in.U8();
    const std::uint8_t clockByte = in.U8();
    const std::uint8_t flags = in.U8();
    const std::uint32_t writeValue = in.U32();
    const std::string text = in.Bytes(in.U8());
    const std::string stray = in.Bytes(in.U8());
    std::vector<Answer> answers;
    while (!in.Empty() && answers.size() < 8) {
        Answer a;
        a.flags = in.U8();
        a.pieceSeed = in.U8();
        a.pauseMs = in.U8();
        a.bytes = in.Bytes(in.U8());
        answers.push_back(std::move(a));
    }

    const int letter = letterByte >= 0x80 ? letterByte
                                          : kLetters[letterByte % (sizeof kLetters - 1)];
    const int bitSizes[4] = {1, 16, 32, static_cast<std::int8_t>(sizeByte)};
    const int bitSize = bitSizes[sizeByte % 4];

    // A clean connection for this input's script, at this input's time.
    g_station.Script(answers, stray, (flags & 1) != 0, plc & 0xFF);
    mem::SetNow(clockByte == 0 ? 1000u : 0u - static_cast<std::uint32_t>(clockByte) * 53u);
    // A platform call that fails: the opening of the socket fails the
    // reconnection, any other call the operation.
    const int failKind = (flags >> 1) & 7;
    const auto failCall = static_cast<mem::Call>(failKind);
    if (failCall == mem::Call::kOpen) mem::FailCall(failCall, flags >> 4, 10055);
    if (plc >= 0 && plc <= etl::kMaxStation) {
        etl::WarmStartBlock warm{plc};
        CallDriver(2, &warm);
    }
    if (failKind < 5) mem::FailCall(failCall, flags >> 4, 10054);

    // The value buffer: exactly what the request may touch.
    // A block owns its elements only (none for a count below 1): a bit
    // takes a 16-bit slot, any other size the bytes its bits need.
    std::size_t bufferSize = 4;
    if (op == 1) {
        std::size_t element = bitSize == 1 || bitSize == 16 ? 2u : bitSize >= 32 ? 4u : 0u;
        if (bitSize > 1 && bitSize < 32 && bitSize != 16) element = static_cast<std::size_t>(bitSize + 7) / 8;
        bufferSize = count > 0 ? static_cast<std::size_t>(count) * element : 0;
    }
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[bufferSize]);
    std::memset(buffer.get(), 0xEE, bufferSize);
    if (op == 2) std::memcpy(buffer.get(), &writeValue, 4);
    const std::unique_ptr<char[]> textBuffer(new char[text.size() + 1]);
    std::memcpy(textBuffer.get(), text.c_str(), text.size() + 1);

    etl::TagIoBlock tag{};
    tag.addressText = textBuffer.get();
    tag.plcNumber = plc;
    tag.memoryLetter = letter;
    tag.addressNumber = addressNumber;
    tag.bitNumber = bitNumber;
    tag.bitSize = bitSize;
    tag.dataType = dataType;
    tag.elementCount = count;
    tag.valueBuffer = buffer.get();

    const std::uint32_t before = mem::Now();
    const std::int32_t result = CallDriver(5 + static_cast<std::uint32_t>(op), &tag);
    const std::uint32_t blocked = mem::Now() - before;
    for (int k = 0; k < 6; ++k) mem::FailCall(static_cast<mem::Call>(k), 0, 0);

    static const bool verbose = std::getenv("ETL_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fprintf(stderr, "operation %d station %d: result %d after %u ms, %d sends\n", op,
                     plc, static_cast<int>(result), static_cast<unsigned>(blocked),
                     plc >= 0 && plc <= etl::kMaxStation
                         ? mem::Sends(Instance().stations[plc].socket)
                         : 0);
    }
    ETL_FUZZ_CHECK(result == 0 || result == 1 || result == 2);
    ETL_FUZZ_CHECK(blocked <= kMaxBlockMs);
    ETL_FUZZ_CHECK(tag.addressText == textBuffer.get() && tag.valueBuffer == buffer.get());

    const bool inTable = plc >= 0 && plc <= etl::kMaxStation;
    for (const Exchanged& e : g_station.Exchanges()) CheckSentFrame(e.sent, plc);
    if (result != 0) {
        if (op != 2) {
            for (std::size_t i = 0; i < 4 && i < bufferSize; ++i) ETL_FUZZ_CHECK(buffer[i] == 0);
        }
        return 0;
    }

    ETL_FUZZ_CHECK(inTable && !g_station.Exchanges().empty());
    // The value is that of one reading of what the station answered.
    const auto fits = [&](std::size_t wordCount, const auto& same) {
        for (const std::vector<std::uint16_t>& words : PositiveAnswers(g_station.Exchanges(), plc, wordCount)) {
            if (same(words)) return true;
        }
        return false;
    };
    if (op == 2) {
        ETL_FUZZ_CHECK(std::memcmp(buffer.get(), &writeValue, 4) == 0);
        ETL_FUZZ_CHECK(fits(0, [](const auto&) { return true; }));
        return 0;
    }
    if (op == 0) {
        const bool dword = dataType == 3 || dataType == 4 || dataType == 5 || letter == 'G' ||
                           bitSize == 32;
        if (dword) {
            ETL_FUZZ_CHECK(fits(2, [&](const auto& words) {
                return Load16(&buffer[0]) == words[0] && Load16(&buffer[2]) == words[1];
            }));
        } else if (dataType == 6) {
            ETL_FUZZ_CHECK(Load16(&buffer[0]) == 0);
            const std::uint16_t bit = Load16(&buffer[2]);
            // A bit tag in its usual form "PPMAAAAB": bit B of the word.
            const int b = text.size() == 8 ? HexValue(text[7]) : -1;
            const bool usual = b >= 0 && text[2] != 'G' &&
                               text.substr(3, 4).find_first_not_of("0123456789") == std::string::npos;
            ETL_FUZZ_CHECK(fits(1, [&](const auto& words) {
                if (usual) return bit == ((words[0] >> b) & 1);
                return bit == 0 || (bit == 1 && words[0] != 0);
            }));
        } else {
            ETL_FUZZ_CHECK(fits(1, [&](const auto& words) {
                return Load16(&buffer[0]) == 0 && Load16(&buffer[2]) == words[0];
            }));
        }
        return 0;
    }
    ETL_FUZZ_CHECK(count >= 1 && (bitSize == 16 || bitSize == 32));
    const std::size_t n = static_cast<std::size_t>(count) * (bitSize == 32 ? 2 : 1);
    ETL_FUZZ_CHECK(fits(n, [&](const auto& words) {
        for (std::size_t i = 0; i < n; ++i) {
            if (Load16(&buffer[2 * i]) != words[i]) return false;
        }
        return true;
    }));
    return 0;
}
