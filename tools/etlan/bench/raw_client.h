// The bench's raw client as far as it is text: the station file read as
// the driver reads it, the very frames the driver sends, and the answers
// decoded. Its socket is in bench_platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace etl::etlan {

struct StationAddress {
    int number = -1;
    std::string host;
    std::string port;
};

struct StationList {
    int pcStation = 0;
    std::vector<StationAddress> stations;  // in file order

    const StationAddress* Find(int number) const {
        const StationAddress* found = nullptr;
        for (const auto& s : stations) {
            if (s.number == number) found = &s;  // a later line replaces an earlier one
        }
        return found;
    }
};

// The station file read as the driver reads it; false with a reason when
// it cannot be opened.
bool ReadStationList(const std::string& path, StationList* out, std::string* why);

// "HOST:PORT" of --raw.
bool SplitHostPort(const std::string& text, StationAddress* out);

// The frame the driver sends: the ET-LAN header and the command text with
// its carriage return; the texts of a read of D first..last and of a write
// of one word.
std::string Frame(int plc, int pcStation, const std::string& text);
std::string ReadText(int plc, int first, int last);
std::string WriteText(int plc, int address, std::uint16_t value);

// A frame as text: the header's bytes in hex, "|", the command text with
// its carriage return as \r.
std::string ShowFrame(const std::string& frame);

// A positive answer of station plc with the command code ("RD", "WD") and
// exactly words data words, decoded into values; false otherwise.
bool DecodeAnswer(const char* frame, int length, int plc, const char* code, int words, std::uint16_t* values);

}  // namespace etl::etlan
