#include "tools/etlan/bench/raw_client.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

#include <asio/write.hpp>

#include "host/blocks.h"
#include "host/digits.h"
#include "mewtocol/etlan_frame.h"
#include "stations/station_line.h"
#include "tools/common/frame_text.h"
#include "tools/etlan/station_endpoint.h"

namespace etl::etlan {
namespace {

constexpr int kHeaderSize = static_cast<int>(kEtlanHeaderSize);

}  // namespace

bool RawConnection::Open(const std::string& host, const std::string& port, int connectMs, int receiveMs,
                         std::string* why) {
    Close();
    asio::ip::tcp::endpoint to;
    if (!StationEndpoint(host, port, &to, why)) {
        *why = "cannot resolve " + host + ":" + port + ": " + *why;
        return false;
    }
    std::optional<std::error_code> result;
    socket_.async_connect(to, [&result](std::error_code ec) { result = ec; });
    io_.restart();
    io_.run_for(std::chrono::milliseconds(connectMs));
    if (!result || *result) {
        const std::error_code ec = result ? *result : std::make_error_code(std::errc::timed_out);
        *why = "cannot connect to " + host + ":" + port + ": " + ec.message();
        Close();
        return false;
    }
    // The exchanges are plain blocking calls: one send, and receives that
    // give up after receiveMs (SO_RCVTIMEO, in the form each system takes).
    std::error_code ec;
    socket_.non_blocking(false, ec);
    if (ec) {
        *why = "cannot connect to " + host + ":" + port + ": " + ec.message();
        Close();
        return false;
    }
#if defined(_WIN32)
    const DWORD limit = static_cast<DWORD>(receiveMs);
#else
    const timeval limit{receiveMs / 1000, (receiveMs % 1000) * 1000};
#endif
    setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    return true;
}

bool RawConnection::Send(const void* data, int length) {
    std::error_code ec;
    asio::write(socket_, asio::buffer(data, static_cast<std::size_t>(length)), ec);
    return !ec;
}

// The system's own receive: one call that blocks until bytes come or the
// time set with SO_RCVTIMEO runs out (Asio's receive would then wait on).
int RawConnection::Receive(void* buffer, int size) {
    const auto n = ::recv(socket_.native_handle(), static_cast<char*>(buffer), size, 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

void RawConnection::Close() {
    std::error_code ignored;
    socket_.close(ignored);
    io_.restart();
    io_.run();  // what was under way ends
}

// The header's ninth character starts the PC's own station number; the
// station lines are taken apart by the driver's own rules
// (stations/station_line.h).
bool ReadStationList(const std::string& path, StationList* out, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot open the station file " + path;
        return false;
    }
    std::string line;
    std::int32_t own = 0;
    if (std::getline(in, line) && line.size() > 8 && ReadDecimal(line.c_str() + 8, &own)) out->pcStation = own;
    while (std::getline(in, line)) {
        const char* text = line.c_str();
        if (IsStationComment(text)) continue;
        StationAddress s;
        s.number = StationNumberOf(text);
        if (s.number > kMaxStation || s.number == out->pcStation) continue;
        const char *host, *hostEnd, *port, *portEnd;
        if (!QuotedText(text, &host, &hostEnd) || !QuotedText(hostEnd + 1, &port, &portEnd)) continue;
        s.host.assign(host, hostEnd);
        s.port.assign(port, portEnd);
        out->stations.push_back(s);
    }
    return true;
}

bool SplitHostPort(const std::string& text, StationAddress* out) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    out->host = text.substr(0, colon);
    out->port = text.substr(colon + 1);
    return true;
}

std::string Frame(int plc, int pcStation, const std::string& text) {
    std::uint8_t header[kEtlanHeaderSize];
    WriteEtlanHeader(header, text.size(), plc, pcStation);
    return std::string(reinterpret_cast<const char*>(header), sizeof header) + text;
}

std::string ReadText(int plc, int first, int last) {
    char t[64];
    std::snprintf(t, sizeof t, "%%%02X#RDD%05d%05d**\r", static_cast<unsigned>(plc), first, last);
    return t;
}

std::string WriteText(int plc, int address, std::uint16_t value) {
    char t[64];
    std::snprintf(t, sizeof t, "%%%02X#WDD%05d%05d%02X%02X**\r", static_cast<unsigned>(plc), address, address,
                  static_cast<unsigned>(value & 0xFF), static_cast<unsigned>(value >> 8));
    return t;
}

std::string ShowFrame(const std::string& frame) {
    using tools::HexBytes;
    using tools::ReadableText;
    const std::string_view bytes = frame;
    if (bytes.size() < kEtlanHeaderSize) return HexBytes(bytes);
    return HexBytes(bytes.substr(0, kEtlanHeaderSize)) + " | " + ReadableText(bytes.substr(kEtlanHeaderSize));
}

bool DecodeAnswer(const char* frame, int length, int plc, const char* code, int words, std::uint16_t* values) {
    const int end = kHeaderSize + 6 + 4 * words + 2;  // the carriage return
    if (length != end + 1 || frame[end] != '\r') return false;
    const char* t = frame + kHeaderSize;
    if (t[0] != '%' || t[3] != '$' || t[4] != code[0] || t[5] != code[1]) return false;
    const int hi = HexDigitValue(t[1]), lo = HexDigitValue(t[2]);
    if (hi < 0 || lo < 0 || hi * 16 + lo != (plc & 0xFF)) return false;
    for (int i = 0; i < words; ++i) {
        const std::int32_t value = HexWordValue(t + 6 + 4 * i);
        if (value < 0) return false;
        values[i] = static_cast<std::uint16_t>(value);
    }
    return true;
}

}  // namespace etl::etlan
