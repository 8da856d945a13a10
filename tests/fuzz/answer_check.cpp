// The fuzz targets' own reading of the protocol (answer_check.h).
#include "tests/fuzz/answer_check.h"

#include <cstdio>

#include "tests/fuzz/fuzz_support.h"

namespace etl::fuzz {
namespace {

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

}  // namespace

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Hex2(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

bool IsNextPartRequest(std::string_view text) {
    return text.size() == 7 && text[0] == '%' && text.substr(3) == "**&\r";
}

std::string_view TextOf(std::string_view frame) {
    return frame.size() > 12 ? frame.substr(12) : std::string_view();
}

namespace {

// A part as the driver takes it from a stream: up to its first CR at or
// after the header.
std::string UpToCr(const std::string& bytes) {
    const std::size_t cr = bytes.find('\r', 12);
    return bytes.substr(0, cr == std::string::npos ? cr : cr + 1);
}

}  // namespace

std::vector<std::vector<std::uint16_t>> PositiveAnswers(const std::vector<Exchanged>& log,
                                                        int station, std::size_t words) {
    std::vector<std::vector<std::uint16_t>> readings;
    std::size_t last = log.size();
    while (last > 0 && IsNextPartRequest(TextOf(log[last - 1].sent))) --last;
    if (last == 0) return readings;
    --last;
    const std::string& command = log[last].sent;
    if (command.size() < 12 + 6) return readings;
    const std::string code = command.substr(12 + 4, 2);
    for (std::size_t c = 0; c <= last; ++c) {
        if (log[c].sent != command) continue;
        // The answer to this sending of the command, alone and run on into
        // the answers after it.
        std::string stream;
        for (std::size_t k = c; k <= last; ++k) stream += log[k].answer;
        for (const std::string& first : {UpToCr(log[c].answer), UpToCr(stream)}) {
            std::string data;
            bool more = true;
            if (!ReadPart(first, station, code, true, &data, &more)) continue;
            bool good = true;
            for (std::size_t i = last + 1; i < log.size() && good; ++i) {
                good = more && ReadPart(UpToCr(log[i].answer), station, code, false, &data, &more);
            }
            if (!good || more || data.size() != 4 * words) continue;
            std::vector<std::uint16_t> out;
            for (std::size_t w = 0; w < words; ++w) {
                const char* d = data.c_str() + 4 * w;
                out.push_back(static_cast<std::uint16_t>((HexValue(d[2]) << 12) | (HexValue(d[3]) << 8) |
                                                         (HexValue(d[0]) << 4) | HexValue(d[1])));
            }
            readings.push_back(std::move(out));
        }
    }
    return readings;
}

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

}  // namespace etl::fuzz
