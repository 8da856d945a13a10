// etlan-sim's command line, read with CLI11 in the order given: the answer
// and fault options apply to every station, or after --for N to station N
// only, so their order matters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/sim/simulator.h"

namespace etl::sim {

// What the answer and fault options set for one station.
struct StationSettings {
    Faults faults;
    int split = 0;
    StationField field = StationField::kHex;
    bool strictField = false;  // texts in the station's own field form only
};

struct SimOptions {
    struct Station {
        int number;
        std::uint16_t port;  // 0: any free port
    };
    // An initial value, and where it came from for messages ("option --set"
    // or "option --file: PATH line N").
    struct Set {
        std::string text;
        std::string origin;
    };
    bool help = false;     // -h, --help
    bool version = false;  // -V, --version
    std::vector<Station> stations;
    std::vector<Set> sets;  // in the order given; each valid for the model
    Model model = Model::kGenerous;
    bool verbose = false;
    bool trace = false;
    bool stdinStop = false;
    std::string recordPath;

    // The settings of one station: every edit in the order given whose
    // scope is all stations (0) or this one.
    StationSettings SettingsFor(int station) const;

    std::vector<std::pair<int, std::function<void(StationSettings&)>>> edits;
};

// Reads the whole line. False with a message in *why (the option, the
// value given and what is allowed) on anything malformed: the caller exits
// with status 2. --help and --version end the reading where they stand.
bool ParseSimOptions(int argc, char** argv, SimOptions* out, std::string* why);

// The text of --help.
const char* SimUsage();

// The line that says a station is set up: "ready station N port P", and
// for a station that its faults keep from listening, why nothing answers a
// connection.
std::string ReadyLine(const SimOptions& options, int station, unsigned port);

}  // namespace etl::sim
