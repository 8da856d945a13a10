// The bench's raw client: the station file read as the driver reads it,
// the very frames the driver sends, the answers decoded, and its own plain
// connection to the station.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace etl::etlan {

// A blocking TCP connection used one exchange at a time: one send,
// receives until the caller has what it wants. Nothing else happens on it,
// so each exchange costs one send and (usually) one receive system call.
class RawConnection {
public:
    // Connects to host and port (read as the driver reads a station's
    // texts) within connectMs; a receive then gives up after receiveMs.
    // False with a reason in *why.
    bool Open(const std::string& host, const std::string& port, int connectMs, int receiveMs, std::string* why);
    // Sends every byte; false on an error.
    bool Send(const void* data, int length);
    // Bytes received (> 0); 0 when the peer closed; -1 on an error or when
    // the receive time ran out.
    int Receive(void* buffer, int size);
    void Close();

private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_{io_};
};

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
