// An answer's parts as the PLC sends them, judged: the ET-LAN header, then
// "%", the station (hexadecimal or decimal), for the first part "$" and the
// command code, data in upper-case hexadecimal, the BCC (or "**"), "&" when
// more follows, and CR. Pure code, shared by the exchange and the scan.
#pragma once

#include <cstdint>

#include "host/blocks.h"
#include "mewtocol/station_health.h"

namespace etl {

constexpr int kAnswerTextOffset = static_cast<int>(kEtlanHeaderSize);
constexpr int kDataOffset = kAnswerTextOffset + 6;      // "%", station, "$", code
constexpr int kPartDataOffset = kAnswerTextOffset + 3;  // "%", station

// Index of the part's carriage return in frame[0..received), or -1 while it
// has not arrived.
int FindAnswerEnd(const std::uint8_t* frame, int received);

// Bytes behind the part that ends at end: a lone LF after the CR does not
// count, anything else does.
int Surplus(const std::uint8_t* frame, int end, int received);

enum class Part { kBad, kLast, kContinued };

struct PartView {
    int dataBegin = 0;
    int dataEnd = 0;
};

// Judges the part in f (its carriage return at end) as an answer of
// plcNumber to the command whose code (two characters) is given; the first
// part carries "$" and the code. On kBad, outcome says why; otherwise view
// holds the data's place.
Part JudgePart(const std::uint8_t* f, int end, bool first, int plcNumber, const char* code,
               PartView* view, Outcome* outcome);

}  // namespace etl
