// A station's health: what the host log learns of its exchanges, and its
// rest. One line when its exchanges start failing (with the reason), one
// when it answers again (with the number of failed exchanges in between),
// nothing while all goes well. A station that stopped answering or cannot
// be reached rests: its requests fail at once, with no frame on the wire
// and no log line, until its rest period has passed; then one request
// tries it (a probe, one attempt). A probe that finds it still silent
// doubles the period up to a ceiling; an answer ends the rest.
#pragma once

#include <cstdint>

#include "host/blocks.h"

namespace etl {

enum class Failure : int {
    kNone,            // a positive answer
    kNoConnection,    // the station has no address to connect to, or no started instance
    kReconnect,       // the connection made before the request failed (rc, cause, timeoutMs)
    kTimeout,         // no complete answer in time (timeoutMs)
    kClosed,          // the PLC closed (rc -1) or reset (rc) the connection
    kConnectionLost,  // send or receive failed otherwise (rc)
    kRefused,         // the PLC answered with an error code (plcError)
    kBadAnswer,       // an answer that is not the answer to this request (detail)
};

struct Outcome {
    Failure failure = Failure::kNone;
    int rc = 0;
    int cause = 0;  // kReconnect: why the connection was not made (ConnectSocket's cause)
    int plcError = 0;
    const char* detail = "";
    std::uint32_t timeoutMs = 0;
};

// A send or receive that failed with rc: the PLC closed (kPeerClosed) or
// reset the connection, or it was lost otherwise.
Outcome ConnectionFailure(int rc);

// Whether the failure leaves the station unreachable (it did not answer),
// rather than answering this one command wrongly.
constexpr bool Unreachable(Failure f) {
    return f == Failure::kNoConnection || f == Failure::kReconnect || f == Failure::kTimeout ||
           f == Failure::kClosed || f == Failure::kConnectionLost;
}

// Whether a request to the station (1..64) may go out now. False while it
// rests: the host's request fails at once and is counted (unless count is
// false: a request of the driver's own). *probe is true when the request
// is the one that tries a resting station again.
bool MaySend(DriverContext* ctx, int station, bool* probe, bool count = true);

// Records the outcome of one exchange with the station whose command text
// (CR included) stands in the context's send area: the log lines and the
// rest. A success logs nothing unless the station was failing.
void RecordOutcome(DriverContext* ctx, int station, const Outcome& outcome);

// The host made the station's connection anew: a rest ends at once, and
// its next request tries it.
void EndRest(DriverContext* ctx, int station);

// Bytes that followed a complete answer (other than a lone LF): the line
// that says so is logged once per station and start.
void NoteSurplus(DriverContext* ctx, int station, int bytes);

// Forgets every station's record (a new start).
void ClearStationHealth(DriverContext* ctx);

}  // namespace etl
