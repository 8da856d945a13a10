// What the host log learns of a station's exchanges: one line when they
// start failing (with the reason), one when the station answers again (with
// the number of failed exchanges in between), nothing while all goes well.
#pragma once

#include <cstdint>

#include "host/blocks.h"

namespace etl {

enum class Failure : int {
    kNone,            // a positive answer
    kNoConnection,    // the station holds no connection
    kReconnect,       // the driver's own reconnect failed (rc)
    kTimeout,         // no complete answer in time (timeoutMs)
    kConnectionLost,  // send or receive failed, or the PLC closed (rc)
    kRefused,         // the PLC answered with an error code (plcError)
    kBadAnswer,       // an answer that is not the answer to this request (detail)
};

struct Outcome {
    Failure failure = Failure::kNone;
    int rc = 0;
    int plcError = 0;
    const char* detail = "";
    std::uint32_t timeoutMs = 0;
};

// Records the outcome of one exchange with the station (1..64) whose
// command text (CR included) stands in the context's send area.
void RecordOutcome(DriverContext* ctx, int station, const Outcome& outcome);

// Forgets every station's record (a new start).
void ClearStationHealth(DriverContext* ctx);

}  // namespace etl
