// The station file reader with any file contents, through a whole
// ColdStart and EndVpi, and SetSockectAddr with any host and port text.
// The in-memory socket platform is linked: nothing here opens a real
// socket or asks a name service. 127.0.0.1:9094 accepts, 127.0.0.2:9094
// never accepts, every other address refuses.
//
// Input: the length of a "host|port" text (one byte), that text, then the
// station file "zavUR01.int".
//
// Checked: every host text in the table is terminated inside its field; a
// connection is only ever attempted to an address that some text between
// two quotes of the file denotes literally (dotted, or "localhost"), never
// to 0.0.0.0 or 255.255.255.255; a text with a full stop is read exactly as
// inet_aton reads it (a leading digit, and never 255.255.255.255) and is
// never looked up as a name, and one that is no address gives 0.0.0.0 and
// no failure; EndVpi leaves no socket open and no start of the socket
// library behind.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "host/blocks.h"
#include "host/vpi.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/memory_platform/memory_platform.h"

namespace {

using etl::fuzz::ByteReader;
namespace mem = etl::memplat;

class SilentPeer : public mem::Peer {
public:
    explicit SilentPeer(mem::Accept accept) : accept_(accept) {}
    mem::Accept OnConnect(mem::Link&) override { return accept_; }
    void OnData(mem::Link&, std::string_view) override {}

private:
    mem::Accept accept_;
};

SilentPeer g_accepting(mem::Accept::kAccept);
SilentPeer g_silent(mem::Accept::kNever);

// The address a host text stands for, as inet_aton reads a dotted text and
// as the in-memory name table resolves a name; false when none.
bool Denotes(const std::string& host, std::uint32_t* address) {
    if (host.find('.') != std::string::npos) {
        in_addr a{};
        if (!host.empty() && host[0] >= '0' && host[0] <= '9' &&
            inet_aton(host.c_str(), &a) != 0 && a.s_addr != 0xFFFFFFFFu) {
            *address = a.s_addr;
            return true;
        }
        return false;
    }
    if (host == "localhost") {
        *address = mem::Loopback();
        return true;
    }
    return false;
}

void CheckSetSockectAddr(const std::string& text) {
    const std::size_t bar = text.find('|');
    const std::string host = text.substr(0, bar);
    const std::string port = bar == std::string::npos ? "" : text.substr(bar + 1);
    const std::string hostC(host.c_str());
    const std::string portC(port.c_str());

    etl::SockAddrIn address{};
    address.port = 0x5A5A;
    const int rc = etl::SetSockectAddr(&address, hostC.c_str(), portC.c_str(), "tcp");
    ETL_FUZZ_CHECK(address.family == etl::plat::kAfInet);
    std::uint32_t want = 0;
    if (hostC.empty()) {
        ETL_FUZZ_CHECK(rc == 0 && address.address == 0);
    } else if (Denotes(hostC, &want)) {
        ETL_FUZZ_CHECK(rc == 0 && address.address == want);
    } else if (hostC.find('.') != std::string::npos) {
        ETL_FUZZ_CHECK(rc == 0 && address.address == 0);  // kept, never connected
    } else {
        ETL_FUZZ_CHECK(rc == -1);
        return;
    }
    if (portC.empty()) {
        ETL_FUZZ_CHECK(address.port == 0x5A5A);
    } else if (portC.size() <= 4 && portC.find_first_not_of("0123456789") == std::string::npos) {
        ETL_FUZZ_CHECK(etl::plat::NetToHost16(address.port) == std::stoi(portC));
    }
}

// Every address that a text between two quotes of the file (at most 15
// characters, as a host field holds) denotes.
std::set<std::uint32_t> QuotedAddresses(const std::string& file) {
    std::set<std::uint32_t> out;
    for (std::size_t i = file.find('"'); i != std::string::npos; i = file.find('"', i + 1)) {
        for (std::size_t j = file.find('"', i + 1); j != std::string::npos && j - i - 1 <= 15;
             j = file.find('"', j + 1)) {
            std::uint32_t a = 0;
            if (Denotes(file.substr(i + 1, j - i - 1), &a)) out.insert(a);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    etl::fuzz::EnterPrivateDir();
    ByteReader in(data, size);
    const std::string addressText = in.Bytes(in.U8());
    const std::string file = in.Rest();

    CheckSetSockectAddr(addressText);

    if (FILE* f = std::fopen("zavUR01.int", "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    } else {
        etl::fuzz::Fail("cannot write the station file");
    }

    mem::Reset();
    etl::SetPcStationNumber(0);  // as a fresh process has it
    mem::Serve(mem::Loopback(), mem::Port(9094), &g_accepting);
    const std::uint8_t silentBytes[4] = {127, 0, 0, 2};
    std::uint32_t silent = 0;
    std::memcpy(&silent, silentBytes, 4);
    mem::Serve(silent, mem::Port(9094), &g_silent);

    auto* ctx = new etl::DriverContext;
    std::memset(ctx, 0xA5, sizeof *ctx);  // what a host's fresh memory may hold
    etl::StartBlock start{};
    std::memcpy(start.name, "FUZZ", 5);
    start.enable = 1;
    etl::VpiRequest request{};
    request.context = ctx;
    request.functionCode = 1;
    request.driverNumber = 1;
    request.params = &start;
    const std::int32_t rc = VpiMain(&request);
    ETL_FUZZ_CHECK(rc == 0 || rc == 2);

    for (const etl::StationEntry& e : ctx->stations) {
        ETL_FUZZ_CHECK(std::memchr(e.host, '\0', sizeof e.host) != nullptr);
    }
    ETL_FUZZ_CHECK(ctx->stationCount <= etl::kStationSlots);

    const std::set<std::uint32_t> allowed = QuotedAddresses(file);
    for (const etl::SockAddrIn& target : mem::ConnectTargets()) {
        ETL_FUZZ_CHECK(allowed.count(target.address) == 1);
        ETL_FUZZ_CHECK(target.address != 0 && target.address != 0xFFFFFFFFu);
    }
    for (const std::string& name : mem::LookedUpNames()) {
        ETL_FUZZ_CHECK(name.find('.') == std::string::npos);
    }
    // Station 0 and the own station are never connected; nor is anything
    // after a refused start.
    if (rc != 0) ETL_FUZZ_CHECK(mem::ConnectAttempts() == 0);
    ETL_FUZZ_CHECK(mem::ConnectAttempts() <= etl::kMaxStation);

    request.functionCode = 11;
    request.params = nullptr;
    ETL_FUZZ_CHECK(VpiMain(&request) == 0);
    ETL_FUZZ_CHECK(mem::OpenSockets() == 0);
    ETL_FUZZ_CHECK(mem::Users() == 0);
    delete ctx;
    return 0;
}
