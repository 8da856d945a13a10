// What a station does with one request frame, its faults applied: the
// bytes of its answer, or why it sends none. Pure; the simulator calls it
// under its lock (it writes memory, the fault counts and the parts still
// pending on the connection) and sends the answer itself.
#pragma once

#include <deque>
#include <string>

#include "tools/sim/simulator.h"

namespace etl::sim {

constexpr int kHeaderSize = 12;  // the ET-LAN header before every text

// A station's settings as one request finds them.
struct StationState {
    int number = 0;
    Faults faults;  // its counts go down with the requests they affect
    StationField field = StationField::kHex;
    bool strict = false;
    int split = 0;
};

struct Reply {
    enum class Kind { kAnswer, kSilent, kClose };
    Kind kind = Kind::kSilent;
    std::string bytes;  // kAnswer: stray bytes, header, text (and LF) as sent
    std::string log;    // kSilent, kClose: what the verbose log says
    std::string event;  // kSilent: the trace's event; kClose: why it closes
};

// The reply to a frame (header included, its length checked); pending
// holds the connection's parts of an answer still to be asked for.
Reply ReplyTo(Memory& memory, StationState& station, std::deque<std::string>& pending, const std::string& frame);

}  // namespace etl::sim
