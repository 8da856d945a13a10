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

// The words of the answer to the driver's last command, from the parts the
// station sent after it: false unless the command and every next-part
// request after it got a well-formed part, the last one exactly what the
// driver took in since its last send (got), and the parts carry exactly the
// words asked for.
bool PositiveAnswer(const std::vector<Exchanged>& log, const std::string& got, int station,
                    std::size_t words, std::vector<std::uint16_t>* out);

// A frame the driver sent: the header, then one command text of at most
// 119 characters ending in its only CR, with "**" or a matching check code,
// or the request for an answer's next part. Aborts (a finding) otherwise.
void CheckSentFrame(const std::string& frame, int station);

}  // namespace etl::fuzz
