// ReadValue, ReadBlock and WriteValue (VpiMain codes 5, 6, 7) against a
// station whose answers are any bytes, delivered in any pieces at any
// times, on the in-memory socket platform. One instance is started once
// with stations 1 to 64 at 127.0.0.1:9094; every input reconnects its
// station with WarmStart (code 2) and scripts the answers to its sends.
//
// Input, when its first byte is below 0x80:
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
// From 0x80 on, the input is a sequence of reads on one connection against
// a station that answers each request correctly but at scripted times (see
// RunSequence): a read reported with result 0 must hold the value of its own
// address, never the late answer of an earlier request.
//
// Checked: the value buffer, exactly as large as the request needs, is
// never overrun; a read reported with result 0 was answered, after its last
// command, by complete positive parts of this station (the first echoing the
// command, each further one asked for with "%NN**&") that carry exactly the
// words asked for, and the buffer holds those words; a failed read
// leaves bytes 0 to 3 at 0 (as far as a block's buffer reaches); a write reported with result 0 got a positive
// answer without data; every frame sent is well formed; the call blocks
// for a bounded time of the clock.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/blocks.h"
#include "host/vpi.h"
#include "tests/support/memory_platform/memory_platform.h"
#include "stations/station_table.h"

namespace {

using etl::fuzz::ByteReader;
namespace mem = etl::memplat;

constexpr char kLetters[] = "XYRLGDTCVSFHI0123456789MNOPQUEZ";
constexpr std::uint32_t kMaxBlockMs = 3 * 2 * 1000 + 100;

struct Answer {
    std::uint8_t flags = 2;
    std::uint8_t pieceSeed = 0;
    std::uint8_t pauseMs = 0;
    std::string bytes;
};

std::string Hex2(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

// "%NN**&" CR: the request for the next part of an answer.
bool IsNextPartRequest(std::string_view text) {
    return text.size() == 7 && text[0] == '%' && text.substr(3) == "**&\r";
}

// The command text of a frame (empty when there is none).
std::string_view TextOf(std::string_view frame) {
    return frame.size() > 12 ? frame.substr(12) : std::string_view();
}

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
    // scheduled in answer to it (empty for silence or a reset).
    struct Exchanged {
        std::string sent;
        std::string answer;
    };
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
etl::DriverContext* g_context = nullptr;

std::int32_t Call(std::uint32_t code, void* params) {
    etl::VpiRequest r{};
    r.context = g_context;
    r.functionCode = code;
    r.driverNumber = 2;  // zavUR02.int: the station file target writes zavUR01.int
    r.params = params;
    return VpiMain(&r);
}

// Starts the instance, and again whenever the platform was reset since
// (other targets in the same process reset it).
void StartOnce() {
    if (g_context != nullptr && mem::Users() > 0) return;
    etl::fuzz::EnterPrivateDir();
    std::string file = "ZAVUR02 99\n";  // own station 99: none of 1..64
    for (int s = 1; s <= etl::kMaxStation; ++s) {
        char line[64];
        std::snprintf(line, sizeof line, "%02d \"127.0.0.1\" \"9094\"\n", s);
        file += line;
    }
    FILE* f = std::fopen("zavUR02.int", "wb");
    if (f == nullptr) etl::fuzz::Fail("cannot write the station file");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    mem::Reset();
    mem::Serve(mem::Loopback(), mem::Port(9094), &g_station);
    if (g_context == nullptr) g_context = new etl::DriverContext;
    etl::StartBlock start{};
    std::memcpy(start.name, "FUZZ", 5);
    start.enable = 1;
    if (Call(1, &start) != 0) etl::fuzz::Fail("the instance did not start");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The station field of an answer: hexadecimal or decimal.
bool StationField(char a, char b, int station) {
    const int h = HexValue(a);
    const int l = HexValue(b);
    if (h >= 0 && l >= 0 && h * 16 + l == station) return true;
    return a >= '0' && a <= '9' && b >= '0' && b <= '9' && (a - '0') * 10 + (b - '0') == station;
}

// One part as the station sent it: header, "%", the station, for the first
// part "$" and the command's code, upper-case hex data, BCC or "**", "&"
// when more follows, and its only CR at the end. Appends the data.
bool ReadPart(const std::string& frame, int station, const std::string& code, bool first,
              std::string* data, bool* more) {
    if (frame.size() < 12 + 6) return false;
    const std::string text = frame.substr(12);
    if (text.find('\r') != text.size() - 1 || text[0] != '%') return false;
    if (!StationField(text[1], text[2], station)) return false;
    *more = text[text.size() - 2] == '&';
    const std::size_t bccAt = text.size() - (*more ? 4 : 3);
    std::size_t pos = 3;
    if (first) {
        if (bccAt < 6 || text[3] != '$' || text.substr(4, 2) != code) return false;
        pos = 6;
    }
    if (bccAt < pos) return false;
    std::uint8_t bcc = 0;
    for (std::size_t i = 0; i < bccAt; ++i) bcc ^= static_cast<std::uint8_t>(text[i]);
    if (text.substr(bccAt, 2) != "**" &&
        (HexValue(text[bccAt]) < 0 || HexValue(text[bccAt + 1]) < 0 ||
         HexValue(text[bccAt]) * 16 + HexValue(text[bccAt + 1]) != bcc)) {
        return false;
    }
    for (std::size_t i = pos; i < bccAt; ++i) {
        if (HexValue(text[i]) < 0) return false;
    }
    *data += text.substr(pos, bccAt - pos);
    return true;
}

// The words of the answer to the driver's last command, from the parts the
// station sent after it: false unless the command and every next-part
// request after it got a well-formed part, the last one exactly what the
// driver took in since its last send (got), and the parts carry exactly the
// words asked for.
bool PositiveAnswer(const std::vector<ScriptedStation::Exchanged>& log, const std::string& got,
                    int station, std::size_t words, std::vector<std::uint16_t>* out) {
    std::size_t first = log.size();
    while (first > 0 && IsNextPartRequest(TextOf(log[first - 1].sent))) --first;
    if (first == 0) return false;
    --first;
    const std::string& command = log[first].sent;
    if (command.size() < 12 + 6) return false;
    const std::string code = command.substr(12 + 4, 2);
    std::string data;
    bool more = true;
    std::string part;
    for (std::size_t i = first; i < log.size(); ++i) {
        // What the driver takes of a part: up to its CR. Bytes the station
        // sends behind it in later pieces are drained before the next send.
        const std::size_t cr = log[i].answer.find('\r', 12);
        part = log[i].answer.substr(0, cr == std::string::npos ? cr : cr + 1);
        if (!more || !ReadPart(part, station, code, i == first, &data, &more)) return false;
    }
    if (more || got != part || data.size() != 4 * words) return false;
    out->clear();
    for (std::size_t w = 0; w < words; ++w) {
        const char* d = data.c_str() + 4 * w;
        out->push_back(static_cast<std::uint16_t>((HexValue(d[2]) << 12) | (HexValue(d[3]) << 8) |
                                                  (HexValue(d[0]) << 4) | HexValue(d[1])));
    }
    return true;
}

// A frame the driver sent: the header, then one command text of at most
// 119 characters ending in its only CR, with "**" or a matching check code,
// or the request for an answer's next part.
void CheckSentFrame(const std::string& frame, int station) {
    ETL_FUZZ_CHECK(frame.size() > 12);
    const std::size_t length = frame.size() - 12;
    ETL_FUZZ_CHECK(static_cast<std::uint8_t>(frame[0]) == 0x10 && frame[1] == 0);
    ETL_FUZZ_CHECK(static_cast<std::uint8_t>(frame[2]) == (length & 0xFF));
    ETL_FUZZ_CHECK(static_cast<std::uint8_t>(frame[3]) == (length >> 8));
    ETL_FUZZ_CHECK(static_cast<std::uint8_t>(frame[10]) == station);
    const std::string text = frame.substr(12);
    if (IsNextPartRequest(text)) {
        ETL_FUZZ_CHECK(text.substr(0, 3) == "%" + Hex2(static_cast<unsigned>(station)));
        return;
    }
    ETL_FUZZ_CHECK(text.size() <= 119 && text.size() >= 8);
    ETL_FUZZ_CHECK(text.find('\r') == text.size() - 1);
    ETL_FUZZ_CHECK(text[0] == '%' && text[3] == '#');
    ETL_FUZZ_CHECK(HexValue(text[1]) * 16 + HexValue(text[2]) == station);
    for (char c : text.substr(0, text.size() - 1)) {
        ETL_FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '%' ||
                       c == '#' || c == '*');
    }
    const std::size_t end = text.size() - 3;
    if (text.substr(end, 2) != "**") {
        std::uint8_t bcc = 0;
        for (std::size_t i = 0; i < end; ++i) bcc ^= static_cast<std::uint8_t>(text[i]);
        ETL_FUZZ_CHECK(HexValue(text[end]) * 16 + HexValue(text[end + 1]) == bcc);
    }
}

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
        // "%01#RDD" start (5 digits) end (5 digits) "**" CR, behind the header.
        const std::string_view text = frame.size() > 12 ? frame.substr(12) : std::string_view();
        if (text.size() != 20 || text.substr(0, 7) != "%01#RDD") return;
        unsigned start = 0;
        unsigned end = 0;
        for (std::size_t i = 0; i < 5; ++i) {
            start = start * 10 + static_cast<unsigned>(text[7 + i] - '0');
            end = end * 10 + static_cast<unsigned>(text[12 + i] - '0');
        }
        std::string answer = "%01$RD";
        for (unsigned a = start; a <= end && a < start + 4; ++a) {
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

// Several reads of data registers of station 1, one after the other on the
// same connection, against the answering station; a read that fails with 2
// is followed by a WarmStart, as a host reconnects a lost station.
//   count of reads (1 to 6), per read its address (u16, modulo 10000),
//   then per send: flags, piece seed, pause, delay in units of 10 ms.
void RunSequence(ByteReader& in) {
    const int reads = 1 + in.U8() % 6;
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
    etl::WarmStartBlock warm{1};
    Call(2, &warm);

    for (const unsigned address : addresses) {
        char text[16];
        std::snprintf(text, sizeof text, "01D%05u", address);
        std::uint8_t buffer[4];
        std::memset(buffer, 0xEE, sizeof buffer);
        etl::TagIoBlock tag{};
        tag.addressText = text;
        tag.plcNumber = 1;
        tag.memoryLetter = 'D';
        tag.addressNumber = address;
        tag.bitNumber = 255;
        tag.bitSize = 16;
        tag.dataType = 0;
        tag.elementCount = 1;
        tag.valueBuffer = buffer;
        const std::uint32_t before = mem::Now();
        const std::int32_t result = Call(5, &tag);
        ETL_FUZZ_CHECK(mem::Now() - before <= kMaxBlockMs);
        ETL_FUZZ_CHECK(Load16(&buffer[0]) == 0);
        if (result == 0) {
            // The value of this address, never that of an earlier request.
            ETL_FUZZ_CHECK(Load16(&buffer[2]) == RegisterValue(address));
        } else {
            ETL_FUZZ_CHECK(Load16(&buffer[2]) == 0);
        }
        if (result == 2) Call(2, &warm);
    }
    mem::Serve(mem::Loopback(), mem::Port(9094), &g_station);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StartOnce();
    ByteReader in(data, size);
    const std::uint8_t opByte = in.U8();
    if (opByte >= 0x80) {
        RunSequence(in);
        return 0;
    }
    const int op = opByte % 3;
    const int plc = static_cast<std::int8_t>(in.U8());
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
        Call(2, &warm);
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
    const std::int32_t result = Call(5 + static_cast<std::uint32_t>(op), &tag);
    const std::uint32_t blocked = mem::Now() - before;
    for (int k = 0; k < 6; ++k) mem::FailCall(static_cast<mem::Call>(k), 0, 0);

    static const bool verbose = std::getenv("ETL_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fprintf(stderr, "operation %d station %d: result %d after %u ms, %d sends\n", op,
                     plc, static_cast<int>(result), static_cast<unsigned>(blocked),
                     plc >= 0 && plc <= etl::kMaxStation
                         ? mem::Sends(g_context->stations[plc].socket)
                         : 0);
    }
    ETL_FUZZ_CHECK(result == 0 || result == 1 || result == 2);
    ETL_FUZZ_CHECK(blocked <= kMaxBlockMs);
    ETL_FUZZ_CHECK(tag.addressText == textBuffer.get() && tag.valueBuffer == buffer.get());

    const bool inTable = plc >= 0 && plc <= etl::kMaxStation;
    const etl::SocketHandle s = inTable ? g_context->stations[plc].socket : etl::kNoSocket;
    if (mem::Sends(s) > 0) CheckSentFrame(mem::LastSent(s), plc);
    if (result != 0) {
        if (op != 2) {
            for (std::size_t i = 0; i < 4 && i < bufferSize; ++i) ETL_FUZZ_CHECK(buffer[i] == 0);
        }
        return 0;
    }

    ETL_FUZZ_CHECK(inTable && mem::Sends(s) > 0);
    const std::string got = mem::ReceivedSinceSend(s);
    std::vector<std::uint16_t> words;
    if (op == 2) {
        ETL_FUZZ_CHECK(std::memcmp(buffer.get(), &writeValue, 4) == 0);
        ETL_FUZZ_CHECK(PositiveAnswer(g_station.Exchanges(), got, plc, 0, &words));
        return 0;
    }
    if (op == 0) {
        const bool dword = dataType == 3 || dataType == 4 || dataType == 5 || letter == 'G' ||
                           bitSize == 32;
        ETL_FUZZ_CHECK(PositiveAnswer(g_station.Exchanges(), got, plc, dword ? 2 : 1, &words));
        if (dword) {
            ETL_FUZZ_CHECK(Load16(&buffer[0]) == words[0] && Load16(&buffer[2]) == words[1]);
        } else if (dataType == 6) {
            ETL_FUZZ_CHECK(Load16(&buffer[0]) == 0);
            const std::uint16_t bit = Load16(&buffer[2]);
            ETL_FUZZ_CHECK(bit == 0 || (bit == 1 && words[0] != 0));
            // A bit tag in its usual form "PPMAAAAB": bit B of the word.
            const int b = text.size() == 8 ? HexValue(text[7]) : -1;
            if (b >= 0 && text[2] != 'G' && text.substr(3, 4).find_first_not_of("0123456789") == std::string::npos) {
                ETL_FUZZ_CHECK(bit == ((words[0] >> b) & 1));
            }
        } else {
            ETL_FUZZ_CHECK(Load16(&buffer[0]) == 0 && Load16(&buffer[2]) == words[0]);
        }
        return 0;
    }
    ETL_FUZZ_CHECK(count >= 1);
    const std::size_t n = static_cast<std::size_t>(count) * (bitSize == 32 ? 2 : 1);
    ETL_FUZZ_CHECK(PositiveAnswer(g_station.Exchanges(), got, plc, n, &words));
    if (bitSize != 16 && bitSize != 32) {
        // Elements of another size are not decoded: past the cleared
        // start, the buffer is as it was.
        for (std::size_t i = 4; i < bufferSize; ++i) ETL_FUZZ_CHECK(buffer[i] == 0xEE);
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) ETL_FUZZ_CHECK(Load16(&buffer[2 * i]) == words[i]);
    return 0;
}
