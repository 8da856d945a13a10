// A station's reply to one request: the command's answer (or a pending
// part), then the faults that reshape, replace or withhold it.
#include "tools/sim/reply.h"

#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

namespace etl::sim {
namespace {

constexpr int kOversizedFrame = 3000;  // bytes of an oversized answer, header included

Reply Silent(std::string log, std::string event) {
    return {Reply::Kind::kSilent, {}, std::move(log), std::move(event)};
}

// The text with a fresh block check code and the carriage return.
std::string WithBcc(std::string body) {
    char tail[4];
    std::snprintf(tail, sizeof tail, "%02X\r", Bcc(body));
    return body += tail;
}

// Wrong station number and oversized answers: a positive answer is
// rewritten with a fresh block check code.
void Reshape(std::string& text, const Faults& f, int echo, StationField field) {
    if (f.wrongStation < 0 && !f.oversizedAnswer) return;
    std::string body = text.substr(0, text.size() - 3);  // without BCC and CR
    body.replace(1, 2, StationText(echo, field));
    if (f.oversizedAnswer && body.size() > 3 && body[3] == '$') {
        const std::size_t want = kOversizedFrame - kHeaderSize - 3;
        while (body.size() + 4 <= want) body += "0000";
    }
    text = WithBcc(std::move(body));
}

}  // namespace

Reply ReplyTo(Memory& memory, StationState& st, std::deque<std::string>& pending, const std::string& frame) {
    const std::string_view payload = std::string_view(frame).substr(kHeaderSize);
    const Faults f = st.faults;
    if (f.closeAfterRequest) {
        return {Reply::Kind::kClose, {}, "closes the connection after the request",
                "after the request, unanswered (close after request)"};
    }
    if (st.faults.dropAnswers != 0) {
        if (st.faults.dropAnswers > 0) --st.faults.dropAnswers;
        return Silent("drops the answer", "no answer: dropped (drop)");
    }
    const int echo = f.wrongStation >= 0 ? f.wrongStation : st.number;
    std::string text;
    if (st.faults.negativeAnswers != 0) {
        if (st.faults.negativeAnswers > 0) --st.faults.negativeAnswers;
        pending.clear();
        char body[8];
        std::snprintf(body, sizeof body, "!%02d", (f.negativeCode % 100 + 100) % 100);
        text = "%";
        text += StationText(echo, st.field);
        text = WithBcc(text + body);
    } else if (!pending.empty() && IsNextPartRequest(st.number, payload, st.field, st.strict)) {
        text = std::move(pending.front());
        pending.pop_front();
        if (text.empty()) {
            pending.clear();
            return Silent("does not answer the request for the next part",
                          "no answer: the request for the next part goes unanswered (part fault)");
        }
    } else {
        text = Execute(memory, st.number, payload, st.field, st.strict);
        if (text.empty()) {
            const std::string fieldText(payload.substr(1, 2));
            if (st.strict && NamesStation(st.number, payload, st.field, false)) {
                return Silent("does not answer a text whose station field is not in its form",
                              "no answer: station field \"" + fieldText + "\" is not in the station's form (" +
                                  (st.field == StationField::kDecimal ? "decimal-only" : "hex-only") + ")");
            }
            return Silent("does not answer another station's text",
                          "no answer: station field \"" + fieldText + "\" names another station");
        }
        pending.clear();
        Reshape(text, f, echo, st.field);
        if (st.split > 0) {
            std::vector<std::string> parts = SplitAnswer(text, st.split, f.partFault, f.partFaultAt);
            text = std::move(parts.front());
            pending.assign(std::make_move_iterator(parts.begin() + 1), std::make_move_iterator(parts.end()));
            if (text.empty()) {
                return Silent("does not answer the command (its first part never comes)",
                              "no answer: the command's first part never comes (part fault)");
            }
        }
    }
    Reply r{Reply::Kind::kAnswer, f.strayBytes, {}, {}};
    if (f.garbage) {
        r.bytes += std::string(12, '\xFF') + "?? not a PLC answer ??\r";
        return r;
    }
    const auto* req = reinterpret_cast<const unsigned char*>(frame.data());
    const std::size_t len = text.size();  // an LF after the CR is not counted
    const char header[kHeaderSize] = {0x10, 0x00, static_cast<char>(len & 0xFF), static_cast<char>((len >> 8) & 0xFF),
                                      0, 0, 0, 0, 0, 0, static_cast<char>(req[11]), static_cast<char>(req[10])};
    r.bytes.append(header, kHeaderSize);
    r.bytes += text;
    if (f.crlf) r.bytes += '\n';
    return r;
}

}  // namespace etl::sim
