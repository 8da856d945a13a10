// The judging of an answer's parts (answer.h).
#include "mewtocol/answer.h"

namespace etl {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kMore = '&';

bool IsUpperHex(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int DecimalValue(std::uint8_t c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// The station field of an answer: the PLC number in hexadecimal, as the
// request writes it, or in decimal, as some units answer.
bool StationMatches(const std::uint8_t* field, int plcNumber) {
    const int hi = HexValue(field[0]);
    const int lo = HexValue(field[1]);
    if (hi >= 0 && lo >= 0 && field[0] <= 'F' && field[1] <= 'F' && hi * 16 + lo == plcNumber) {
        return true;
    }
    const int dh = DecimalValue(field[0]);
    const int dl = DecimalValue(field[1]);
    return dh >= 0 && dl >= 0 && dh * 10 + dl == plcNumber;
}

}  // namespace

int FindAnswerEnd(const std::uint8_t* frame, int received) {
    for (int i = kAnswerTextOffset; i < received; ++i) {
        if (frame[i] == kCr) return i;
    }
    return -1;
}

int Surplus(const std::uint8_t* frame, int end, int received) {
    const int behind = received - (end + 1);
    return behind == 1 && frame[end + 1] == kLf ? 0 : behind;
}

Part JudgePart(const std::uint8_t* f, int end, bool first, int plcNumber, const char* code,
               PartView* view, Outcome* outcome) {
    outcome->failure = Failure::kBadAnswer;
    if (end < kPartDataOffset + 2 || f[kAnswerTextOffset] != '%') {
        outcome->detail = "no MEWTOCOL text";
        return Part::kBad;
    }
    if (!StationMatches(f + kAnswerTextOffset + 1, plcNumber)) {
        outcome->detail = "another station's number";
        return Part::kBad;
    }
    const bool more = f[end - 1] == kMore;
    const int bccAt = (more ? end - 1 : end) - 2;
    if (bccAt < kPartDataOffset) {
        outcome->detail = "a truncated text";
        return Part::kBad;
    }
    if (!(f[bccAt] == '*' && f[bccAt + 1] == '*')) {
        const int h = HexValue(f[bccAt]);
        const int l = HexValue(f[bccAt + 1]);
        std::uint8_t bcc = 0;
        for (int i = kAnswerTextOffset; i < bccAt; ++i) bcc ^= f[i];
        if (h < 0 || l < 0 || bcc != static_cast<std::uint8_t>(h * 16 + l)) {
            outcome->detail = "a wrong block check code";
            return Part::kBad;
        }
    }
    int pos = kPartDataOffset;
    if (f[pos] == '!' && !more) {
        const int d1 = DecimalValue(f[pos + 1]);
        const int d2 = pos + 2 < bccAt ? DecimalValue(f[pos + 2]) : -1;
        if (d1 >= 0 && d2 >= 0 && pos + 3 == bccAt) {
            outcome->failure = Failure::kRefused;
            outcome->plcError = d1 * 10 + d2;
        } else {
            outcome->detail = "a malformed error code";
        }
        return Part::kBad;
    }
    if (first) {
        if (bccAt < kDataOffset || f[pos] != '$') {
            outcome->detail = "no positive answer";
            return Part::kBad;
        }
        if (f[pos + 1] != static_cast<std::uint8_t>(code[0]) ||
            f[pos + 2] != static_cast<std::uint8_t>(code[1])) {
            outcome->detail = "the code of another command";
            return Part::kBad;
        }
        pos = kDataOffset;
    }
    for (int i = pos; i < bccAt; ++i) {
        if (!IsUpperHex(f[i])) {
            outcome->detail = "data that are not hexadecimal";
            return Part::kBad;
        }
    }
    view->dataBegin = pos;
    view->dataEnd = bccAt;
    outcome->failure = Failure::kNone;
    return more ? Part::kContinued : Part::kLast;
}


}  // namespace etl
