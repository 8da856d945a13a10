// The fuzz targets' own reading of the protocol: hex digits, the frames the
// driver sends and the parts a station answers with. Written apart from the
// driver's code on purpose, so that a target checks the driver against a
// second reading of the protocol and never against itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace etl::fuzz {

// The value of an upper-case hex digit, -1 for any other character.
int HexValue(char c);
// Two upper-case hex digits of the low byte of v.
std::string Hex2(unsigned v);

// "%NN**&" CR: the request for the next part of an answer.
bool IsNextPartRequest(std::string_view text);
// The command text of a frame, behind its 12-byte header (empty when there
// is none).
std::string_view TextOf(std::string_view frame);

// One chunk the driver sent, and what the station scheduled in answer to
// it (empty for silence or a reset).
struct Exchanged {
    std::string sent;
    std::string answer;
};

// The words that a positive answer to the driver's command may carry, one
// entry per way of reading the station's answers as one: the first part is
// the answer to one of the times the command was sent (every attempt sends
// the same frame, and an answer that comes late is still its answer), or,
// where that answer stops short of its CR, its bytes followed by the next
// answers' (one connection is one byte stream); the next parts are the
// answers to the next-part requests after the last command. Only readings
// in which every part is well formed and the parts carry exactly the words
// asked for are listed.
std::vector<std::vector<std::uint16_t>> PositiveAnswers(const std::vector<Exchanged>& log,
                                                        int station, std::size_t words);

// A frame the driver sent: the header, then one command text of at most
// 119 characters ending in its only CR, with "**" or a matching check code,
// or the request for an answer's next part. Aborts (a finding) otherwise.
void CheckSentFrame(const std::string& frame, int station);

}  // namespace etl::fuzz
