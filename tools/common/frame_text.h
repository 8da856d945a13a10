// Frames as a person reads them: the ET-LAN header in hex, the command
// text with its control bytes escaped, a negative answer's error code with
// its meaning; a reader that cuts a byte stream into frames as it arrives;
// and the trace line around them. One notation for the traces of etlan's
// relay and of etlan-sim. Pure text, no I/O.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace etl::tools {

// Bytes in hex, two digits each, a blank between ("10 00 13 00").
std::string HexBytes(std::string_view bytes);

// A command text readable on one line: CR as \r, every other byte outside
// printable ASCII as \xHH.
std::string ReadableText(std::string_view text);

// "PLC error 61: data error: ..." for a negative answer ("%01!61..."),
// else "".
std::string NegativeAnswerText(std::string_view text);

// Cuts the bytes of one direction of a connection into frames. Feed takes
// what a receive gave and returns one line per frame completed (header hex,
// two blanks, text; a negative answer's meaning after it); bytes that form
// no frame come out as raw hex with the reason. A frame whose bytes are
// not all there waits for the next Feed; Flush returns what is left when
// the connection ends. The reader only looks: the bytes are forwarded
// whatever it makes of them.
class FrameReader {
public:
    std::vector<std::string> Feed(const char* data, std::size_t size);
    std::vector<std::string> Flush();

private:
    // Takes one frame or run of stray bytes from the front of pending_;
    // false when what is there may still become a frame.
    bool TakeOne(std::vector<std::string>* lines);
    std::string pending_;
};

// A trace line's time stamp, "13:52:07.412": the time of day as given
// (local time) with its milliseconds.
std::string TraceStamp(const std::tm& time, int ms);

// One trace line, newline included: the stamp, the mark and the station,
// then the text, e.g.
//   13:52:07.412  -> st 01  10 00 14 ... 01 0A  %01#RDD0010000100**\r
// The marks take the driver's side: "->" what the driver sends to the
// station, "<-" what the station sends back, "==" an event of the
// connection (opened, closed, an answer the station does not send).
std::string TraceLine(std::string_view stamp, std::string_view mark, int station, std::string_view text);

}  // namespace etl::tools
