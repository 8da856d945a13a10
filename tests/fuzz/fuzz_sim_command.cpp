// The simulator's command interpreter and its memory-setting lines with any
// text. Input: the station number (one byte, 0 read as 1), then lines
// separated by '\n' on one fresh memory image: a line holding '=' goes to
// SetFromText, any other to Execute.
//
// Every answer must be a well-formed frame of this station: "%", its number
// in two hex digits, "$" with a two-letter code and whole words of upper-case
// hex data, or "!" with a two-digit error code, then a block check code that
// matches and a CR. A positive answer to a write leaves the written words
// readable by the matching read. Every positive answer, split into parts at
// a limit of 12 to 130 characters (from the station byte), gives parts of
// at most that length, each with its own matching BCC, the last one alone
// without "&", whose texts put together are the answer again.
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/answer_check.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/sim/simulator.h"

namespace {

using etl::fuzz::ByteReader;
using etl::fuzz::HexValue;

bool IsUpperHex(char c) { return HexValue(c) >= 0; }

void CheckAnswer(int station, std::string_view answer) {
    ETL_FUZZ_CHECK(answer.size() >= 9);
    ETL_FUZZ_CHECK(answer[0] == '%');
    ETL_FUZZ_CHECK(HexValue(answer[1]) * 16 + HexValue(answer[2]) == (station & 0xFF));
    ETL_FUZZ_CHECK(answer.back() == '\r');
    const std::size_t end = answer.size() - 3;  // the block check code
    ETL_FUZZ_CHECK(IsUpperHex(answer[end]) && IsUpperHex(answer[end + 1]));
    ETL_FUZZ_CHECK(HexValue(answer[end]) * 16 + HexValue(answer[end + 1]) ==
                   etl::sim::Bcc(answer.substr(0, end)));
    if (answer[3] == '!') {
        ETL_FUZZ_CHECK(answer.size() == 9);
        ETL_FUZZ_CHECK(answer[4] >= '0' && answer[4] <= '9' && answer[5] >= '0' &&
                       answer[5] <= '9');
        return;
    }
    ETL_FUZZ_CHECK(answer[3] == '$');
    ETL_FUZZ_CHECK(answer[4] >= 'A' && answer[4] <= 'Z' && answer[5] >= 'A' && answer[5] <= 'Z');
    ETL_FUZZ_CHECK((end - 6) % 4 == 0);
    for (std::size_t i = 6; i < end; ++i) ETL_FUZZ_CHECK(IsUpperHex(answer[i]));
}

// After a positive word write "%SS#W<x>...": the read of the same range
// ("%SS#R<x>..." without the data) must answer exactly those data.
void CheckReadBack(etl::sim::Memory& memory, int station, std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() < 6 || text[4] != 'W') return;
    std::string_view body = text.substr(4, text.size() - 6);
    std::size_t fields = 0;  // the characters before the data
    if (body.substr(0, 3) == "WCC") {
        fields = 4 + 8;
    } else if (body.substr(0, 3) == "WDD" || body.substr(0, 3) == "WDF" ||
               body.substr(0, 3) == "WDL") {
        fields = 3 + 10;
    } else if (body.substr(0, 2) == "WS" || body.substr(0, 2) == "WK") {
        fields = 2 + 8;
    } else {
        return;  // index registers and WCS are left to the tests
    }
    if (body.size() < fields) return;
    std::string read = std::string(text.substr(0, 4)) + "R" + std::string(body.substr(1, fields - 1));
    if (body.substr(0, 3) == "WDL") read = std::string(text.substr(0, 4)) + "RDL" +
                                           std::string(body.substr(3, fields - 3));
    read += "**\r";
    const std::string answer = etl::sim::Execute(memory, station, read);
    ETL_FUZZ_CHECK(answer.size() >= 9 && answer[3] == '$');
    ETL_FUZZ_CHECK(answer.substr(6, answer.size() - 9) == body.substr(fields));
}

void CheckParts(int limit, std::string_view answer) {
    const std::vector<std::string> parts = etl::sim::SplitAnswer(answer, limit);
    ETL_FUZZ_CHECK(!parts.empty());
    if (parts.size() == 1) {
        ETL_FUZZ_CHECK(parts[0] == answer && answer.size() <= static_cast<std::size_t>(limit));
        return;
    }
    std::string joined(answer.substr(0, 3));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        const bool last = i + 1 == parts.size();
        const std::size_t tail = last ? 3 : 4;
        ETL_FUZZ_CHECK(p.size() <= static_cast<std::size_t>(limit) && p.size() > 3 + tail);
        ETL_FUZZ_CHECK(p.substr(0, 3) == answer.substr(0, 3));
        ETL_FUZZ_CHECK(p.back() == '\r' && (p[p.size() - 2] == '&') == !last);
        const std::size_t end = p.size() - tail;
        ETL_FUZZ_CHECK(HexValue(p[end]) * 16 + HexValue(p[end + 1]) ==
                       etl::sim::Bcc(p.substr(0, end)));
        joined += p.substr(3, end - 3);
    }
    ETL_FUZZ_CHECK(joined == answer.substr(0, answer.size() - 3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    int station = in.U8();
    if (station == 0) station = 1;
    const std::string rest = in.Rest();
    // A copy of a fresh image: much faster than building one per input.
    static const etl::sim::Memory kFresh;
    etl::sim::Memory memory = kFresh;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t nl = rest.find('\n', pos);
        if (nl == std::string::npos) nl = rest.size();
        const std::string_view line(rest.data() + pos, nl - pos);
        if (line.find('=') != std::string_view::npos) {
            etl::sim::SetFromText(memory, line);
        } else {
            const std::string answer = etl::sim::Execute(memory, station, line);
            if (!answer.empty()) {
                CheckAnswer(station, answer);
                if (answer[3] == '$') {
                    CheckReadBack(memory, station, line);
                    CheckParts(12 + station % 119, answer);
                }
            }
        }
        pos = nl + 1;
    }
    return 0;
}
