// etlan as the SCADA host: loads the driver library, reports its log lines,
// and keeps an instance of it (a VpiHarness on the library's VpiMain),
// which calls VpiMain and nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "tools/etlan/vpi_harness.h"
#include "tools/loader/library_loader.h"

namespace etl::etlan {

class TraceRelay;

class DriverHost {
public:
    DriverHost() = default;
    ~DriverHost();  // ends a started instance, removes its own log file
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // The driver's log, before Load: the file given (--log), else the one
    // QANPRO_LOG names, else a file of etlan's own in the temporary folder
    // that QANPRO_LOG is pointed at. A log must be a regular file that can
    // be appended to (it is created when missing); etlan's own is tried
    // with a byte written. False with the reason when it cannot be used.
    bool PrepareLog(const std::string& given, std::string* why);
    // The log of another host of this process (which prepared it and
    // outlives this one), read from its present end.
    void ShareLog(const DriverHost& owner);
    // Loads the library. False with a reason in Error() when it cannot be
    // loaded.
    bool Load(const std::string& path);
    const std::string& Error() const { return error_; }

    // Code 14 with no context; allocates a context of the reported size.
    std::int32_t GetInfo(DriverInfoBlock* info) { return vpi_.GetInfo(info); }

    // One call of VpiMain with the instance's context; the time it took is
    // in LastMs().
    std::int32_t Call(std::uint32_t code, void* params) { return vpi_.Call(code, params); }
    double LastMs() const { return vpi_.LastMs(); }

    // ColdStart of the station file zavUR<driverNumber>.int in the current
    // directory, and EndVpi of a started instance. The driver logs every
    // start ("ColdStart() entered", and "ColdStart() end OK" when it
    // succeeds): when the log did not take those lines, LogLost() holds
    // and the reason is on standard error.
    std::int32_t ColdStart(int driverNumber);
    std::int32_t EndVpi() { return vpi_.End(); }
    // WarmStart (code 2): the station's connection made again.
    std::int32_t WarmStart(int station) { return vpi_.WarmStart(station); }
    bool Started() const { return vpi_.Started(); }

    // The log lines written since the last call, without time stamp and
    // level: the whole lines the file held when called, no further.
    std::vector<std::string> TakeLog();
    // True once a start's lines did not reach the log: nothing the log
    // holds (or misses) tells what the driver did.
    bool LogLost() const { return logLost_; }

    // For a process that ends while a call is still running in the driver:
    // removes etlan's own log file; the instance is left as it is.
    void Abandon();

private:
    // The log's text from offset to its present end (a regular file's
    // size, read no further); false when it cannot be read.
    bool ReadLogFrom(std::uint64_t offset, std::string* text) const;
    std::uint64_t LogSize() const;

    plat::DriverLibrary library_;
    VpiHarness vpi_;  // declared after the library, so it goes first
    std::string logPath_;
    bool ownLog_ = false;
    bool logLost_ = false;
    std::uint64_t logOffset_ = 0;
    std::string error_;
};

// True once a start in this process left its lines out of the log; etlan
// then ends with status 3 (it could not run), whatever the command found.
bool DriverLogLost();

// A temporary directory that holds a copy of a station file under the name
// the driver opens (zavUR%02d.int) and is the current directory while alive.
class StationDir {
public:
    StationDir();
    ~StationDir();
    StationDir(const StationDir&) = delete;
    StationDir& operator=(const StationDir&) = delete;

    // With only, the copy keeps the header and the lines of those stations;
    // every other line becomes a comment line, so line numbers stay those
    // of the file given. With trace, the stations are reached through a
    // relay that writes every frame on standard error (trace/relay.h); it
    // ends with Release.
    bool Prepare(const std::string& stationFile, int driverNumber, std::string* why,
                 const std::set<int>* only = nullptr, bool trace = false);
    // The station file given, absolute; empty before Prepare.
    const std::string& Source() const { return source_; }
    // Returns to the previous directory and removes the temporary one (as
    // the destructor does; for a process that ends without unwinding).
    void Release();

private:
    std::string dir_;
    std::string file_;
    std::string previous_;
    std::string source_;
    std::unique_ptr<TraceRelay> relay_;
};

}  // namespace etl::etlan
