// A simulated station on the in-memory sockets and their fake clock: the
// simulator's command interpreter (tools/sim: Execute, SplitAnswer) behind
// the ET-LAN header, with the simulator's faults, so that a test sees what
// it would see from etlan-sim without real sockets or real waiting.
//
// Each fault acts as etlan-sim's does, its times on the fake clock: an
// answer (or each piece of it) is scheduled to become readable after its
// delay, an answer sent twice has its second copy scheduled that long after
// the first; a dropped connection is reset, so an answer still waiting out
// its delay never comes; refused and never-accepted connections are the
// connect outcomes of the in-memory platform.
//
// Not thread-safe: use it from the thread that calls the driver (the
// in-memory platform calls it from there).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "tests/support/memory_platform/memory_platform.h"
#include "tools/sim/simulator.h"

namespace etl::test {

class FakeStation : public memplat::Peer {
public:
    // Serves station `station` at 127.0.0.1:port until destroyed.
    FakeStation(int station, std::uint16_t port);
    ~FakeStation() override;
    FakeStation(const FakeStation&) = delete;
    FakeStation& operator=(const FakeStation&) = delete;

    // As Simulator::SetFaults: applies to every later request; with
    // refuseConnections the open connections are dropped at once.
    void SetFaults(const sim::Faults& faults);
    // As Simulator::SetSplit: answers longer than chars go in parts.
    void SetSplit(int chars) { split_ = chars < 0 ? 0 : chars; }
    // As Simulator::SetStationField: the form the station writes its
    // number in (hex by default), and with strict the only form it takes.
    void SetStationField(sim::StationField field, bool strict = false) {
        field_ = field;
        strict_ = strict;
    }
    // Drops every connection, as a restarted PLC does; memory is kept.
    void RestartStation();

    std::uint16_t Word(char key, int address) const { return memory_.Get(key, address); }
    void SetWord(char key, int address, std::uint16_t value) { memory_.Set(key, address, value); }
    int Requests() const { return requests_; }  // frames received so far
    int Open() const;                           // connections open on both ends

    memplat::Accept OnConnect(memplat::Link& link) override;
    void OnData(memplat::Link& link, std::string_view data) override;

private:
    struct Connection {
        std::string buffer;                // bytes of a frame not yet complete
        std::deque<std::string> pending;   // parts still to be asked for
    };

    // Handles one request frame; false when the connection must close.
    bool Answer(memplat::Link& link, Connection& conn, std::string_view frame);
    void DropAll();

    int station_;
    std::uint32_t address_;
    std::uint16_t port_;
    sim::Memory memory_;
    sim::Faults faults_;
    int split_ = 0;
    sim::StationField field_ = sim::StationField::kHex;
    bool strict_ = false;
    int requests_ = 0;
    std::map<SocketHandle, Connection> connections_;
};

}  // namespace etl::test
