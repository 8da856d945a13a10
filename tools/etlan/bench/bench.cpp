#include "tools/etlan/bench/bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/vocabulary.h"
#include "tools/etlan/bench/clients.h"
#include "tools/etlan/bench/raw_client.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSlowReads = 100;  // reads per client against the late station
constexpr int kWarmUp = 20;      // untimed operations per client and kind first

// The targets.
constexpr double kMedianRatioTarget = 1.1;
constexpr double kP99RatioTarget = 1.3;
constexpr double kCpuRatioTarget = 1.3;
constexpr double kSlowCpuTarget = 0.005;  // CPU seconds per 100 reads
constexpr double kColdStartTarget = 1.2;  // seconds

// ---------------------------------------------------------------- measuring

struct Series {
    std::vector<double> us;  // each operation's time
    double cpu = 0;          // process CPU seconds
    double wall = 0;         // seconds of the rounds
};

struct Stats {
    double median = 0, p99 = 0, opsPerSecond = 0, cpuPerOp = 0;
    long ops = 0;
};

Stats Summarize(Series& s) {
    Stats r;
    r.ops = static_cast<long>(s.us.size());
    if (s.us.empty()) return r;
    std::sort(s.us.begin(), s.us.end());
    const std::size_t n = s.us.size();
    r.median = n % 2 ? s.us[n / 2] : (s.us[n / 2 - 1] + s.us[n / 2]) / 2;
    const std::size_t rank = (99 * n + 99) / 100;  // nearest rank
    r.p99 = s.us[std::min(n, std::max<std::size_t>(rank, 1)) - 1];
    r.opsPerSecond = s.wall > 0 ? static_cast<double>(n) / s.wall : 0;
    r.cpuPerOp = s.cpu / static_cast<double>(n);
    return r;
}

// count operations of one kind by one client, each timed; the round's
// process CPU and wall time added to the series.
void Round(DriverHost* host, Target& t, Kind kind, Client client, int count, Series* s, Failures* failures) {
    const double cpu0 = ProcessCpuSeconds();
    const auto begin = Clock::now();
    auto before = begin;
    for (int i = 0; i < count; ++i) {
        if (client == kDriver) {
            DriverOp(host, t, kind, failures);
        } else {
            RawOp(t, kind, failures);
        }
        const auto after = Clock::now();
        s->us.push_back(std::chrono::duration<double, std::micro>(after - before).count());
        before = after;
    }
    s->wall += std::chrono::duration<double>(Clock::now() - begin).count();
    s->cpu += ProcessCpuSeconds() - cpu0;
}

struct ColdStartTiming {
    bool finished = false;
    double seconds = 0;
    std::int32_t result = 0;
    int stations = 0;
    int failed = 0;
};

// ColdStart on the silent station file on a thread of its own, waited for
// up to limit seconds. false when it is still running then: the call
// cannot be cut short, so the caller must end the process.
bool TimeColdStart(DriverHost* host, int driver, double limit, ColdStartTiming* timing) {
    struct Outcome {
        std::int32_t result = 0;
        double seconds = 0;
    };
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();
    std::thread worker([host, driver, promise] {
        const auto begin = Clock::now();
        Outcome o;
        o.result = host->ColdStart(driver);
        o.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        promise->set_value(o);
    });
    if (future.wait_for(std::chrono::duration<double>(limit)) != std::future_status::ready) {
        worker.detach();
        timing->seconds = limit;
        return false;
    }
    worker.join();
    const Outcome o = future.get();
    timing->finished = true;
    timing->result = o.result;
    timing->seconds = o.seconds;
    for (const auto& line : host->TakeLog()) {
        if (line.find("Fail on station") != std::string::npos) ++timing->failed;
    }
    host->EndVpi();
    host->TakeLog();
    return true;
}

// ---------------------------------------------------------------- the table

std::string Time(double us) {
    char b[32];
    if (us >= 10000) {
        std::snprintf(b, sizeof b, "%.2f ms", us / 1000);
    } else {
        std::snprintf(b, sizeof b, "%.1f us", us);
    }
    return b;
}

std::string Ratio(double a, double b) {
    if (b <= 0) return "-";
    char t[32];
    std::snprintf(t, sizeof t, "%.2fx", a / b);
    return t;
}

struct TargetLine {
    std::string what, measured, target;
    bool ran = false, met = false;
};

using Targets = std::vector<TargetLine>;

void AddTarget(Targets* targets, const std::string& what, const std::string& measured, const std::string& target,
               bool ran, bool met) {
    targets->push_back({what, measured, target, ran, met});
}

// The stations of one run: the one measured, and the late one if any.
struct Stations {
    StationList list;
    int plc = 0;
    std::unique_ptr<Target> main;
    std::unique_ptr<Target> slow;
};

// The station file read, the instance started on it and both stations
// prepared for both clients; kExitOk, or the status to end with.
int SetUp(const Options& o, DriverHost* host, Stations* s) {
    std::string why;
    if (!ReadStationList(StationFileName(o.driver), &s->list, &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    s->plc = o.plc > 0 ? o.plc : (s->list.stations.empty() ? -1 : s->list.stations.front().number);
    if (s->plc < 1 || s->plc > kMaxStation) {
        std::fprintf(stderr, "etlan: no station to measure (the station file names none; --plc N)\n");
        return kExitCannotRun;
    }
    // The stations named must be in the file before the driver connects to any.
    for (const int plc : {o.raw.empty() ? s->plc : 0, o.slowPlc}) {
        if (plc > 0 && s->list.Find(plc) == nullptr) {
            std::fprintf(stderr, "etlan: station %d is not in the station file\n", plc);
            return kExitCannotRun;
        }
    }

    // The driver's instance on the station file: both stations connected.
    const std::int32_t start = host->ColdStart(o.driver);
    host->TakeLog();
    if (start != 0) {
        std::printf("ColdStart on the station file failed: result %ld (%s)\n", static_cast<long>(start),
                    ResultText(start, kColdStart));
        return kExitFailed;
    }
    s->main = std::make_unique<Target>();
    if (!PrepareTarget(host, s->list, s->plc, o.raw, o.registerNumber, o.writeRegister, s->main.get(), &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    if (o.slowPlc > 0) {
        s->slow = std::make_unique<Target>();
        if (!PrepareTarget(host, s->list, o.slowPlc, "", o.registerNumber, -1, s->slow.get(), &why)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return kExitCannotRun;
        }
    }
    return kExitOk;
}

void PrintHeading(const Options& o, const Stations& s, int rounds, int count) {
    const int address = o.registerNumber;
    if (o.verbose) {
        std::printf("Raw client's frames (the driver sends the same bytes):\n");
        std::printf("  ReadValue  : %s\n", ShowFrame(s.main->readFrame).c_str());
        std::printf("  ReadBlock  : %s\n", ShowFrame(s.main->blockFrame).c_str());
        if (!s.main->writeFrame.empty()) std::printf("  WriteValue : %s\n", ShowFrame(s.main->writeFrame).c_str());
    }
    std::printf("etlan bench: the driver (VpiMain) against a raw blocking-socket client sending the same frames\n");
    std::printf("  PLC %d at %s:%s (PC station %d), D%d..D%d; %d round(s) of %d operations per client and kind,\n"
                "  driver and raw client taking turns; CPU is this process's (the simulator runs apart)\n",
                s.plc, s.main->address.host.c_str(), s.main->address.port.c_str(), s.list.pcStation, address,
                address + kBlockWords - 1, rounds, count);
    if (o.writeRegister < 0) {
        std::printf("  reads only: no register is written (--write-register W times WriteValue of D W)\n");
    } else {
        std::printf("  D%d is written with the value it held at the start, %d times\n", o.writeRegister,
                    2 * (kWarmUp + rounds * count));
    }
    std::fflush(stdout);
}

// Every kind once through both clients, checked: a station that does not
// answer here would only make the rounds crawl. False when one failed.
bool WarmUp(DriverHost* host, Target& t, Failures* failures) {
    for (int k = 0; k < kKinds; ++k) {
        if (k == kWrite && t.writeFrame.empty()) continue;
        for (int i = 0; i < kWarmUp; ++i) {
            DriverOp(host, t, static_cast<Kind>(k), failures);
            RawOp(t, static_cast<Kind>(k), failures);
        }
    }
    if (failures->count == 0) return true;
    std::printf("\nThe warm-up failed (%ld operation(s)):\n", failures->count);
    for (const auto& f : failures->shown) std::printf("  %s\n", f.c_str());
    return false;
}

// Rounds of every kind, driver and raw client taking turns.
void MeasureRounds(DriverHost* host, Target& t, int rounds, int count, Series (&series)[kKinds][kClients],
                   Failures* failures) {
    for (auto& kind : series) {
        for (auto& s : kind) s.us.reserve(static_cast<std::size_t>(rounds) * static_cast<std::size_t>(count));
    }
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kKinds; ++k) {
            if (k == kWrite && t.writeFrame.empty()) continue;
            for (int c = 0; c < kClients; ++c) {
                Round(host, t, static_cast<Kind>(k), static_cast<Client>(c), count, &series[k][c], failures);
            }
        }
    }
}

// kSlowReads reads of the late station per client, spread over the rounds.
void MeasureSlow(DriverHost* host, Target& slow, int rounds, Series (&series)[kClients], Failures* failures) {
    DriverOp(host, slow, kRead, failures);  // warm: one each
    RawOp(slow, kRead, failures);
    const int perRound = (kSlowReads + rounds - 1) / rounds;
    for (int r = 0, done = 0; r < rounds && done < kSlowReads; ++r, done += perRound) {
        const int n = std::min(perRound, kSlowReads - done);
        for (int c = 0; c < kClients; ++c) Round(host, slow, kRead, static_cast<Client>(c), n, &series[c], failures);
    }
}

void PrintTable(int address, int writeAddress, const Stats (&stats)[kKinds][kClients]) {
    char label[kKinds][48];
    std::snprintf(label[kRead], sizeof label[kRead], "ReadValue D%d (5)", address);
    std::snprintf(label[kBlock], sizeof label[kBlock], "ReadBlock D%d x%d (6)", address, kBlockWords);
    std::snprintf(label[kWrite], sizeof label[kWrite], "WriteValue D%d (7)", writeAddress);
    std::printf("\n%-26s %-7s %11s %11s %9s %14s\n", "operation (code)", "client", "median", "p99", "ops/s", "CPU s/10k ops");
    for (int k = 0; k < kKinds; ++k) {
        if (k == kWrite && writeAddress < 0) {
            std::printf("%-26s not measured: no --write-register\n", "WriteValue (7)");
            continue;
        }
        for (int c = 0; c < kClients; ++c) {
            const Stats& s = stats[k][c];
            std::printf("%-26s %-7s %11s %11s %9.0f %14.3f\n", c == 0 ? label[k] : "", kClientName[c], Time(s.median).c_str(),
                        Time(s.p99).c_str(), s.opsPerSecond, s.cpuPerOp * 10000);
        }
        const Stats& d = stats[k][kDriver];
        const Stats& r = stats[k][kRaw];
        std::printf("%-26s %-7s %11s %11s %9s %14s\n", "", "ratio", Ratio(d.median, r.median).c_str(),
                    Ratio(d.p99, r.p99).c_str(), Ratio(d.opsPerSecond, r.opsPerSecond).c_str(),
                    Ratio(d.cpuPerOp, r.cpuPerOp).c_str());
    }
}

void PrintSlowTable(int slowPlc, const Stats (&stats)[kClients]) {
    std::printf("\n%-26s %-7s %11s %11s %9s %14s\n", "late station", "client", "median", "p99", "ops/s",
                "CPU s/100 reads");
    char l[48];
    std::snprintf(l, sizeof l, "ReadValue PLC %d (5)", slowPlc);
    for (int c = 0; c < kClients; ++c) {
        const Stats& s = stats[c];
        std::printf("%-26s %-7s %11s %11s %9.1f %14.4f\n", c == 0 ? l : "", kClientName[c], Time(s.median).c_str(),
                    Time(s.p99).c_str(), s.opsPerSecond, s.cpuPerOp * 100);
    }
}

void AddReadTargets(const Stats& d, const Stats& r, Targets* targets) {
    char t[32];
    std::snprintf(t, sizeof t, "<= %.2fx", kMedianRatioTarget);
    AddTarget(targets, "ReadValue median latency / raw", Ratio(d.median, r.median), t, true,
              r.median > 0 && d.median <= kMedianRatioTarget * r.median);
    std::snprintf(t, sizeof t, "<= %.2fx", kP99RatioTarget);
    AddTarget(targets, "ReadValue p99 latency / raw", Ratio(d.p99, r.p99), t, true,
              r.p99 > 0 && d.p99 <= kP99RatioTarget * r.p99);
    std::snprintf(t, sizeof t, "<= %.2fx", kCpuRatioTarget);
    AddTarget(targets, "ReadValue CPU per read / raw", Ratio(d.cpuPerOp, r.cpuPerOp), t, true,
              r.cpuPerOp > 0 && d.cpuPerOp <= kCpuRatioTarget * r.cpuPerOp);
}

void AddSlowTarget(bool haveSlow, const Stats (&slow)[kClients], Targets* targets) {
    char what[96], measured[48], t[32];
    std::snprintf(t, sizeof t, "<= %.3f s", kSlowCpuTarget);
    if (!haveSlow) {
        AddTarget(targets, "CPU per 100 reads, late station", "skipped (no --slow-plc)", t, false, false);
        return;
    }
    std::snprintf(what, sizeof what, "CPU per 100 reads, answers after %.1f ms", slow[kRaw].median / 1000);
    std::snprintf(measured, sizeof measured, "%.4f s (raw %.4f s)", slow[kDriver].cpuPerOp * 100,
                  slow[kRaw].cpuPerOp * 100);
    AddTarget(targets, what, measured, t, true, slow[kDriver].cpuPerOp * 100 <= kSlowCpuTarget);
}

// ColdStart on the --silent station file, its target added. kExitOk, or
// the status to end with; *abandoned when it outlived its limit.
int MeasureSilentStart(const Options& o, DriverHost* host, std::unique_ptr<StationDir>* silentDir, bool* abandoned,
                       Targets* targets) {
    char t[32];
    std::snprintf(t, sizeof t, "<= %.1f s", kColdStartTarget);
    if (o.silent.empty()) {
        AddTarget(targets, "ColdStart, silent stations", "skipped (no --silent)", t, false, false);
        return kExitOk;
    }
    ColdStartTiming cold;
    StationList silentList;
    std::string why;
    *silentDir = std::make_unique<StationDir>();
    if (!ReadStationList(o.silent, &silentList, &why) || !(*silentDir)->Prepare(o.silent, o.driver, &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    cold.stations = static_cast<int>(silentList.stations.size());
    std::printf("\nColdStart (1) on %s, %d station(s) that never answer: ", o.silent.c_str(), cold.stations);
    std::fflush(stdout);
    *abandoned = !TimeColdStart(host, o.driver, o.silentLimit, &cold);
    if (*abandoned) {
        std::printf("still running after %.1f s, no longer waited for\n", o.silentLimit);
    } else {
        std::printf("%.3f s, result %ld, %d did not connect\n", cold.seconds, static_cast<long>(cold.result), cold.failed);
    }
    char what[96], measured[48];
    std::snprintf(what, sizeof what, "ColdStart, %d silent stations", cold.stations);
    if (*abandoned) {
        std::snprintf(measured, sizeof measured, "> %.1f s", o.silentLimit);
    } else {
        std::snprintf(measured, sizeof measured, "%.3f s", cold.seconds);
    }
    AddTarget(targets, what, measured, t, true, cold.finished && cold.seconds <= kColdStartTarget);
    return kExitOk;
}

void PrintTargets(const Targets& targets, const Failures& failures) {
    std::printf("\n%-44s %-24s %-10s %s\n", "target", "measured", "target", "");
    int met = 0, ran = 0;
    std::string notMet;
    for (const auto& t : targets) {
        std::printf("%-44s %-24s %-10s %s\n", t.what.c_str(), t.measured.c_str(), t.target.c_str(),
                    !t.ran ? "-" : t.met ? "met" : "NOT MET");
        if (!t.ran) continue;
        ++ran;
        if (t.met) {
            ++met;
        } else {
            notMet += (notMet.empty() ? "" : "; ") + t.what;
        }
    }
    std::printf("%d of %d targets met%s%s\n", met, ran, notMet.empty() ? "" : "; not met: ", notMet.c_str());
    if (failures.count != 0) {
        std::printf("\n%ld operation(s) FAILED or read a wrong value:\n", failures.count);
        for (const auto& f : failures.shown) std::printf("  %s\n", f.c_str());
    }
}

}  // namespace

int RunBench(const Options& o, DriverHost* host, StationDir* stationDir) {
    const int rounds = o.rounds;
    const int count = o.countGiven ? o.count : 500;
    Stations stations;
    if (const int status = SetUp(o, host, &stations); status != kExitOk) return status;
    PrintHeading(o, stations, rounds, count);

    Failures failures;
    if (!WarmUp(host, *stations.main, &failures)) return kExitFailed;
    Series series[kKinds][kClients];
    MeasureRounds(host, *stations.main, rounds, count, series, &failures);
    const bool haveSlow = stations.slow != nullptr;
    Series slowSeries[kClients];
    if (haveSlow) MeasureSlow(host, *stations.slow, rounds, slowSeries, &failures);
    stations.main.reset();
    stations.slow.reset();
    host->EndVpi();
    host->TakeLog();

    Stats stats[kKinds][kClients];
    for (int k = 0; k < kKinds; ++k) {
        for (int c = 0; c < kClients; ++c) stats[k][c] = Summarize(series[k][c]);
    }
    PrintTable(o.registerNumber, o.writeRegister, stats);
    Stats slowStats[kClients];
    if (haveSlow) {
        for (int c = 0; c < kClients; ++c) slowStats[c] = Summarize(slowSeries[c]);
        PrintSlowTable(o.slowPlc, slowStats);
    }
    Targets targets;
    AddReadTargets(stats[kRead][kDriver], stats[kRead][kRaw], &targets);
    AddSlowTarget(haveSlow, slowStats, &targets);

    // ColdStart on stations that never answer, last: when it outlives its
    // limit the process ends with it still running.
    std::unique_ptr<StationDir> silentDir;
    bool abandoned = false;
    if (const int status = MeasureSilentStart(o, host, &silentDir, &abandoned, &targets); status != kExitOk) {
        return status;
    }
    PrintTargets(targets, failures);
    const int status = failures.count != 0 ? kExitFailed : kExitOk;
    if (abandoned) {
        // The ColdStart goes on inside the driver and cannot be stopped:
        // end the process here, after cleaning up what etlan made.
        std::fflush(stdout);
        std::fflush(stderr);
        silentDir.reset();
        stationDir->Release();
        host->Abandon();
        std::_Exit(status);
    }
    return status;
}

}  // namespace etl::etlan
