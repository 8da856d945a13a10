// etlan poll TAG...: reads the tags every interval until Ctrl-C (or -1,
// -n N), with the statistics of a ping at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

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

// A station whose reads fail with 2 (no answer, not connected) gets
// WarmStart, as a host makes a lost connection again: at once after the
// first such read, then while its reads keep failing after 0.5 s, 1 s,
// 2 s ... at most 30 s apart; a good read starts over.
class Reconnector {
public:
    using Clock = std::chrono::steady_clock;

    void Note(int station, std::int32_t result) {
        Station& s = stations_[station];
        if (result == 0) {
            s.failing = false;
            s.delayMs = 0;
            s.next = Clock::time_point{};
        } else if (result == 2) {
            s.failing = true;
        }
    }

    // The WarmStarts that are due, for stations the start defined.
    void Run(const Options& o, DriverHost* host, const StartSummary& summary, bool live) {
        for (auto& [number, s] : stations_) {
            if (!s.failing || summary.stations.count(number) == 0 || StopRequested()) continue;
            const auto now = Clock::now();
            if (now < s.next) continue;
            const std::int32_t rc = host->WarmStart(number);
            const auto log = host->TakeLog();
            ++s.attempts;
            s.failing = false;  // the next read tells
            s.delayMs = s.delayMs == 0 ? kFirstDelayMs : std::min(2 * s.delayMs, kLastDelayMs);
            s.next = Clock::now() + std::chrono::milliseconds(s.delayMs);
            if (rc == 0) ++s.reconnected;
            if (!o.quiet) {
                if (rc == 0) {
                    std::fprintf(stderr, "%setlan: station %d gave no answer: WarmStart made its connection again\n",
                                 live ? "\n" : "", number);
                } else {
                    std::fprintf(stderr, "%setlan: station %d gives no answer: WarmStart failed, next in %.1f s\n",
                                 live ? "\n" : "", number, static_cast<double>(s.delayMs) / 1000.0);
                }
            }
            if (o.verbose) PrintLog(log, stderr);
        }
    }

    void PrintStatistics(std::FILE* to) const {
        for (const auto& [number, s] : stations_) {
            if (s.attempts == 0) continue;
            std::fprintf(to, "station %d: %lu reconnection(s) by WarmStart in %lu attempt(s)\n", number, s.reconnected,
                        s.attempts);
        }
    }

private:
    static constexpr int kFirstDelayMs = 500;
    static constexpr int kLastDelayMs = 30000;
    struct Station {
        bool failing = false;
        int delayMs = 0;
        Clock::time_point next{};
        unsigned long attempts = 0, reconnected = 0;
    };
    std::map<int, Station> stations_;
};

// The counts of the whole poll, of each tag and of each station.
struct PollTotals {
    PollCounts all;
    std::vector<PollCounts> tags;
    std::map<int, PollCounts> stations;
};

// The result of a read in a word or two, for records.
const char* Meaning(std::int32_t result) {
    return result == 0 ? "ok" : result == 1 ? "refused or negative answer" : result == 2 ? "no answer" : "failed";
}

// Now in UTC, ISO 8601 with milliseconds.
std::string TimeStamp() {
    const ClockReading now = WallClock(true);
    const std::tm& utc = now.time;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec, now.ms);
    return text;
}

// One record of one read for --csv or --json: time, round, tag, station,
// result and its meaning, the values in decimal, the time it took.
void PrintRecord(const Options& o, const Tag& t, const ReadOutcome& r, long round) {
    const std::vector<std::string> values = r.result == 0 ? Values(t, r, o.count, true) : std::vector<std::string>{};
    std::string joined;
    for (std::size_t i = 0; i < values.size(); ++i) joined += (i ? (o.json ? "," : " ") : "") + values[i];
    const int station = t.check.block.plcNumber;
    const std::string stamp = TimeStamp();
    if (o.json) {
        std::printf("{\"time\":\"%s\",\"round\":%ld,\"tag\":\"%s\",\"station\":%d,\"result\":%ld,"
                    "\"meaning\":\"%s\",\"value\":%s,\"ms\":%.3f}\n",
                    stamp.c_str(), round, t.name.c_str(), station, static_cast<long>(r.result), Meaning(r.result),
                    r.result == 0 ? ("[" + joined + "]").c_str() : "null", r.ms);
    } else {
        std::printf("%s,%ld,%s,%d,%ld,%s,%s,%.3f\n", stamp.c_str(), round, t.name.c_str(), station,
                    static_cast<long>(r.result), Meaning(r.result), joined.c_str(), r.ms);
    }
}

// One read of one tag as the poll line shows it: "NAME=VALUE" (the value
// alone with -q), "--" and the result when it failed; with --csv or
// --json its record.
std::string PollOne(const Options& o, DriverHost* host, Tag& t, std::size_t index, long round, PollTotals* totals,
                    Reconnector* reconnector) {
    const ReadOutcome r = ReadTag(host, t, o.count);
    totals->all.Add(r);
    totals->tags[index].Add(r);
    totals->stations[t.check.block.plcNumber].Add(r);
    reconnector->Note(t.check.block.plcNumber, r.result);
    if (o.csv || o.json) {
        PrintRecord(o, t, r, round);
        return "";
    }
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
// A stop asked for between two reads ends the round there, unprinted.
void PollRound(const Options& o, DriverHost* host, std::vector<Tag>& tags, long round, bool live,
               PollTotals* totals, Reconnector* reconnector) {
    const PollCounts* counts = &totals->all;
    std::string line = "#";
    line += std::to_string(round);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (StopRequested()) return;
        line += PollOne(o, host, tags[i], i, round, totals, reconnector);
    }
    if (o.csv || o.json) {
        // the records are out already
    } else if (o.quiet) {
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

// "good N, refused N, no answer N, min/avg/max A/B/C ms" of some reads.
std::string CountsText(const PollCounts& c) {
    char text[160];
    std::snprintf(text, sizeof text, "good %lu, refused %lu, no answer %lu, min/avg/max %.1f/%.1f/%.1f ms", c.good,
                  c.refused, c.noAnswer, c.minMs, c.sent ? c.sumMs / static_cast<double>(c.sent) : 0.0, c.maxMs);
    return text;
}

void PrintStatistics(std::FILE* to, const PollTotals& totals, const std::vector<Tag>& tags, long rounds, long overran,
                     double seconds) {
    const PollCounts& c = totals.all;
    const unsigned long errors = c.Errors();
    std::fprintf(to, "--- etlan poll statistics ---\n");
    std::fprintf(to, "%ld rounds in %.3f s, %ld overran the interval\n", rounds, seconds, overran);
    std::fprintf(to, "%lu requests transmitted, %lu received, %lu errors, %.1f%% request loss\n", c.sent, c.good, errors,
                 c.sent ? 100.0 * static_cast<double>(errors) / static_cast<double>(c.sent) : 0.0);
    if (errors != 0) std::fprintf(to, "(%lu refused or negative, %lu without answer)\n", c.refused, c.noAnswer);
    if (c.sent != 0) {
        std::fprintf(to, "request time min/avg/max = %.1f/%.1f/%.1f ms\n", c.minMs,
                     c.sumMs / static_cast<double>(c.sent), c.maxMs);
    }
    if (tags.size() > 1) {
        for (std::size_t i = 0; i < tags.size(); ++i) {
            if (totals.tags[i].sent != 0) std::fprintf(to, "tag %s: %s\n", tags[i].name.c_str(), CountsText(totals.tags[i]).c_str());
        }
    }
    if (totals.stations.size() > 1) {
        for (const auto& [number, counts] : totals.stations) {
            std::fprintf(to, "station %d: %s\n", number, CountsText(counts).c_str());
        }
    }
}

}  // namespace

int CmdPoll(const Options& o) {
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, o.args, &dir, &host, &tags, false); status != kExitOk) return status;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;

    WatchStop(true);
    const bool live = OutputIsTerminal() && !o.verbose && !o.quiet && !o.csv && !o.json;
    PollTotals totals;
    totals.tags.resize(tags.size());
    const PollCounts& counts = totals.all;
    const bool records = o.csv || o.json;
    Reconnector reconnector;
    long round = 0;
    const long rounds = o.once ? 1 : o.polls;
    if (o.csv) std::printf("time,round,tag,station,result,meaning,value,ms\n");
    if (!o.quiet && !live && !records) {
        std::printf("Polling %lu tag(s) every %d ms%s\n", static_cast<unsigned long>(tags.size()), o.intervalMs,
                    rounds > 0 ? "" : ", Ctrl-C to stop");
    }
    std::fflush(stdout);  // a second Ctrl-C ends etlan without flushing
    // Rounds start on a fixed schedule: round k at k intervals after the
    // first. A round that ends past the next one's start is counted, and
    // the schedule starts again from its end.
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(o.intervalMs);
    const auto first = Clock::now();
    auto next = first;
    long overran = 0;
    bool outputFailed = false;
    while (!StopRequested() && (rounds == 0 || round < rounds)) {
        PollRound(o, &host, tags, ++round, live, &totals, &reconnector);
        reconnector.Run(o, &host, summary, live);
        if (OutputFailed()) {
            outputFailed = true;  // nobody reads the values any more
            break;
        }
        if (rounds != 0 && round >= rounds) break;
        next += interval;
        const auto now = Clock::now();
        if (now > next) {
            ++overran;
            next = now;
            continue;
        }
        // Short waits, so that a stop is seen at once.
        while (!StopRequested() && Clock::now() < next) {
            std::this_thread::sleep_until(std::min(next, Clock::now() + std::chrono::milliseconds(50)));
        }
    }
    const bool stopped = StopRequested();
    const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
    host.TakeLog();
    FinishDriver(o, &host);
    WatchStop(false);
    if (outputFailed) return kExitFailed;
    if (live) std::printf("\n");
    if (!o.quiet) {
        // With --csv or --json standard output holds the records alone.
        std::FILE* to = records ? stderr : stdout;
        PrintStatistics(to, totals, tags, round, overran, seconds);
        reconnector.PrintStatistics(to);
    }
    if (stopped) return kExitInterrupted;
    return counts.Errors() == 0 && counts.sent != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
