// etlan poll TAG...: reads the tags every interval until Ctrl-C (or -1,
// -n N), with the statistics of a ping at the end.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnInterrupt(int) { g_stop = 1; }

// The poll's texts are appended piece by piece: mingw's GCC 12 reports a
// false -Wrestrict on "#" + std::to_string(...) and the like here.

// The reads of a poll so far, counted as ping counts its packets.
struct PollCounts {
    unsigned long sent = 0, good = 0, refused = 0, noAnswer = 0;
    double minMs = 0, maxMs = 0, sumMs = 0;

    void Add(const ReadOutcome& r) {
        ++sent;
        sumMs += r.ms;
        minMs = sent == 1 ? r.ms : std::min(minMs, r.ms);
        maxMs = std::max(maxMs, r.ms);
        if (r.result == 0) {
            ++good;
        } else {
            r.result == 1 ? ++refused : ++noAnswer;
        }
    }
    unsigned long Errors() const { return refused + noAnswer; }
};

// One read of one tag as the poll line shows it: "NAME=VALUE" (the value
// alone with -q), "--" and the result when it failed.
std::string PollOne(const Options& o, DriverHost* host, Tag& t, PollCounts* counts) {
    const ReadOutcome r = ReadTag(host, t, o.count);
    counts->Add(r);
    std::string value;
    if (r.result == 0) {
        const auto values = Values(t, r, o.count, o.quiet);
        for (std::size_t i = 0; i < values.size(); ++i) value += (i ? ", " : "") + values[i];
        if (values.size() > 1) value = "[" + value + "]";
    } else {
        value = "-- (";
        value += std::to_string(r.result);
        value += r.result == 1 ? ": refused" : r.result == 2 ? ": no answer" : "";
        value += ")";
    }
    if (o.timing) {
        char ms[24];
        std::snprintf(ms, sizeof ms, " [%.1f ms]", r.ms);
        value += ms;
    }
    std::string shown = "  ";
    if (!o.quiet) shown += t.name + "=";
    shown += value;
    if (o.verbose) shown += " rc=" + std::to_string(r.result);
    return shown;
}

// One round: every tag read once, the line printed (in place when live).
void PollRound(const Options& o, DriverHost* host, std::vector<Tag>& tags, long round, bool live,
               PollCounts* counts) {
    std::string line = "#";
    line += std::to_string(round);
    for (Tag& t : tags) line += PollOne(o, host, t, counts);
    if (o.quiet) {
        std::printf("%s\n", line.substr(line.find("  ") + 2).c_str());
    } else {
        line += "   | good " + std::to_string(counts->good) + ", failed " + std::to_string(counts->Errors());
        if (live) {
            std::printf("\r\033[K%s", line.c_str());
        } else {
            std::printf("%s\n", line.c_str());
        }
    }
    if (o.verbose) PrintLog(host->TakeLog());
    std::fflush(stdout);
}

void PrintStatistics(const PollCounts& c) {
    const unsigned long errors = c.Errors();
    std::printf("--- etlan poll statistics ---\n");
    std::printf("%lu requests transmitted, %lu received, %lu errors, %.1f%% request loss\n", c.sent, c.good, errors,
                c.sent ? 100.0 * static_cast<double>(errors) / static_cast<double>(c.sent) : 0.0);
    if (errors != 0) std::printf("(%lu refused or negative, %lu without answer)\n", c.refused, c.noAnswer);
    if (c.sent != 0) {
        std::printf("request time min/avg/max = %.1f/%.1f/%.1f ms\n", c.minMs, c.sumMs / static_cast<double>(c.sent),
                    c.maxMs);
    }
}

}  // namespace

int CmdPoll(const Options& o) {
    if (o.args.empty()) return Usage("poll takes one or more TAGs");
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, o.args, &dir, &host, &tags); status != kExitOk) return status;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;

    g_stop = 0;
    std::signal(SIGINT, OnInterrupt);
    const bool live = OutputIsTerminal() && !o.verbose && !o.quiet;
    PollCounts counts;
    long round = 0;
    const long rounds = o.once ? 1 : o.polls;
    if (!o.quiet && !live) {
        std::printf("Polling %lu tag(s) every %d ms%s\n", static_cast<unsigned long>(tags.size()), o.intervalMs,
                    rounds > 0 ? "" : ", Ctrl-C to stop");
    }
    while (g_stop == 0 && (rounds == 0 || round < rounds)) {
        const auto begin = std::chrono::steady_clock::now();
        PollRound(o, &host, tags, ++round, live, &counts);
        if (rounds != 0 && round >= rounds) break;
        const auto until = begin + std::chrono::milliseconds(o.intervalMs);
        while (g_stop == 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::signal(SIGINT, SIG_DFL);
    if (live) std::printf("\n");
    host.TakeLog();
    FinishDriver(o, &host);
    if (!o.quiet) PrintStatistics(counts);
    return counts.Errors() == 0 && counts.sent != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
