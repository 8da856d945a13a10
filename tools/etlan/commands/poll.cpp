// etlan poll TAG...: reads the tags every interval until Ctrl-C (or -1,
// -n N), with the statistics of a ping at the end (those and the records of
// --csv and --json in poll_report.cpp).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/poll_report.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/console.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

// The poll's texts are appended piece by piece: mingw's GCC 12 reports a
// false -Wrestrict on "#" + std::to_string(...) and the like here.

// The poll's messages: on standard error, each with the time, on a line of
// its own under the live line.
class Messages {
public:
    // The live line stands on the terminal without its line end.
    void LineOpen() { open_ = true; }
    void EndLine() {
        if (!open_) return;
        std::fputs("\n", stdout);
        std::fflush(stdout);
        open_ = false;
    }
    void Say(const std::string& text) {
        EndLine();
        std::fprintf(stderr, "%s etlan: %s\n", ClockText().c_str(), text.c_str());
        std::fflush(stderr);
    }

private:
    bool open_ = false;
};

// "station 3", as the messages name a station.
std::string StationKey(int station) {
    std::string key = "station ";
    key += std::to_string(station);
    return key;
}

// Why reads fail, in the plain words of the driver's log lines. A station
// that goes on failing logs nothing more, nor does a command the PLC keeps
// refusing: the last words of each station, and of each tag refused, stand
// until new ones come. Each is said once when it comes or changes, and
// once more when the station (or tag) answers again.
class Explainer {
public:
    // The log lines of a call that gave result.
    void Note(const std::vector<std::string>& lines, std::int32_t result, const Tag* tag) {
        for (const auto& line : lines) {
            StationNews news;
            if (!ReadStationNews(line, &news) || news.station < 0 || news.recovered) continue;
            if (tag != nullptr && result == 1 && news.station == tag->check.block.plcNumber) {
                tagWords_[tag->name] = news.words;
            } else {
                stationWords_[news.station] = news.words;
            }
        }
    }

    // The words for a failed read of the tag (after Note).
    std::string Words(const Tag& t, std::int32_t result) const {
        if (result == 1) {
            const auto at = tagWords_.find(t.name);
            return at != tagWords_.end() ? at->second : "refused";
        }
        const auto at = stationWords_.find(t.check.block.plcNumber);
        return at != stationWords_.end() ? at->second : result == 2 ? "no answer" : "failed";
    }

    // Says why the read failed, when not said already; a station that is not
    // defined gets its reason from the station file.
    void Failed(const Tag& t, std::int32_t result, const std::string& words, const StartSummary& summary,
                const StationDir& dir, Messages* messages) {
        const int station = t.check.block.plcNumber;
        const std::string key = result == 1 ? t.name : StationKey(station);
        std::string& said = said_[key];
        if (said == words) return;
        said = words;
        std::string text = key;
        text += ": ";
        text += words;
        if (result == 2 && summary.stations.count(station) == 0) {
            const std::string hint = StationHint(summary, dir, station);
            if (!hint.empty()) {
                text += " (";
                text += hint;
                text += ")";
            }
        }
        messages->Say(text);
    }

    // A good read: the station, and the tag, answer again.
    void Answered(const Tag& t, Messages* messages) {
        for (const std::string& key : {StationKey(t.check.block.plcNumber), t.name}) {
            const auto at = said_.find(key);
            if (at == said_.end()) continue;
            said_.erase(at);
            std::string text = key;
            text += " answers again";
            messages->Say(text);
        }
        tagWords_.erase(t.name);
    }

private:
    std::map<int, std::string> stationWords_;
    std::map<std::string, std::string> tagWords_;
    std::map<std::string, std::string> said_;
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

    // The WarmStarts that are due, for stations the start defined; each
    // said with its outcome, and why it failed in the driver's words.
    void Run(const Options& o, DriverHost* host, const StartSummary& summary, Explainer* explainer,
             Messages* messages) {
        for (auto& [number, s] : stations_) {
            if (!s.failing || summary.stations.count(number) == 0 || StopRequested()) continue;
            const auto now = Clock::now();
            if (now < s.next) continue;
            const std::int32_t rc = host->WarmStart(number);
            const auto log = host->TakeLog();
            explainer->Note(log, rc, nullptr);
            ++s.attempts;
            s.failing = false;  // the next read tells
            s.delayMs = s.delayMs == 0 ? kFirstDelayMs : std::min(2 * s.delayMs, kLastDelayMs);
            s.next = Clock::now() + std::chrono::milliseconds(s.delayMs);
            std::string text = StationKey(number);
            if (rc == 0) {
                ++s.reconnected;
                text += ": WarmStart made its connection again";
            } else {
                std::string words = "result ";
                words += std::to_string(rc);
                for (const auto& line : log) {
                    StationNews news;
                    if (ReadStationNews(line, &news) && news.station == number && !news.recovered) words = news.words;
                }
                char next[48];
                std::snprintf(next, sizeof next, "; next in %.1f s", static_cast<double>(s.delayMs) / 1000.0);
                text += ": WarmStart failed: ";
                text += words;
                text += next;
            }
            messages->Say(text);
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

// What a poll keeps from its start to its end.
struct Poll {
    const Options& o;
    DriverHost* host;
    const StationDir& dir;
    const StartSummary& summary;
    ValueFormat format;
    bool live;
    PollTotals totals;
    Reconnector reconnector;
    Explainer explainer;
    Messages messages;
};

// One tag of the poll line: "  NAME=VALUE" (the value alone with -q), in
// its long and its short form, "--" and why when the read failed.
struct Shown {
    std::string full, brief;
};

// One read of one tag: counted, its failure explained, and as the poll
// line shows it (nothing with --csv or --json: its record is out).
Shown PollOne(Poll& p, Tag& t, std::size_t index, long round, std::vector<std::string>* log) {
    const Options& o = p.o;
    const RangeOutcome r = ReadRange(p.host, t, o.highWordFirst);
    const int station = t.check.block.plcNumber;
    for (const ReadOutcome& request : r.requests) {
        p.totals.all.Add(request);
        p.totals.tags[index].Add(request);
        p.totals.stations[station].Add(request);
    }
    p.reconnector.Note(station, r.result);
    log->insert(log->end(), r.log.begin(), r.log.end());
    std::string words;
    if (r.result == 0) {
        p.explainer.Answered(t, &p.messages);
    } else {
        p.explainer.Note(r.log, r.result, &t);
        words = p.explainer.Words(t, r.result);
        p.explainer.Failed(t, r.result, words, p.summary, p.dir, &p.messages);
    }
    if (o.csv || o.json) {
        PrintRecord(o, p.format, t, r, words, round);
        return {};
    }
    std::string value, brief;
    if (r.result == 0) {
        for (std::size_t i = 0; i < r.values.size(); ++i) {
            value += i != 0 ? ", " : "";
            value += ShowValue(r.values[i], r.bits, p.format, o.quiet);
            brief += i != 0 ? ", " : "";
            brief += ShowValue(r.values[i], r.bits, p.format, true);
        }
        if (r.values.size() > 1) {
            value.insert(0, "[");
            value += "]";
            brief.insert(0, "[");
            brief += "]";
        }
    } else {
        value = "-- (";
        value += std::to_string(r.result);
        value += ": ";
        value += words;
        value += ")";
        brief = "--";  // a message under the line says why
    }
    std::string after;
    if (o.timing) {
        char ms[24];
        std::snprintf(ms, sizeof ms, " [%.1f ms]", r.ms);
        after += ms;
    }
    if (o.verbose) {
        after += " rc=";
        after += std::to_string(r.result);
    }
    std::string head = "  ";
    if (!o.quiet) {
        head += t.name;
        head += "=";
    }
    return {head + value + after, head + brief + after};
}

// One round: every tag read once, the line printed (in place when live,
// fitted to the terminal's width). A stop asked for between two reads ends
// the round there, unprinted.
void PollRound(Poll& p, std::vector<Tag>& tags, long round) {
    const Options& o = p.o;
    std::vector<std::string> full, brief, log;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (StopRequested()) return;
        const Shown shown = PollOne(p, tags[i], i, round, &log);
        full.push_back(shown.full);
        brief.push_back(shown.brief);
    }
    const PollCounts& counts = p.totals.all;
    std::string number = "#";
    number += std::to_string(round);
    std::string tail = "   | good ";
    tail += std::to_string(counts.good);
    tail += ", failed ";
    tail += std::to_string(counts.Errors());
    if (o.csv || o.json) {
        // the records are out already
    } else if (o.quiet) {
        std::string line;
        for (const auto& f : full) line += f;
        std::printf("%s\n", line.substr(2).c_str());
    } else if (p.live) {
        std::printf("\r\033[K%s", FitLine(number, full, brief, tail, TerminalColumns()).c_str());
        p.messages.LineOpen();
    } else {
        std::string head = ClockText();
        head += ' ';
        head += number;
        std::printf("%s\n", FitLine(head, full, brief, tail, 0).c_str());
    }
    if (o.verbose) PrintLog(log);
    std::fflush(stdout);
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
    Poll p{o, &host, dir, summary, ValueFormatOf(o.format), live, {}, {}, {}, {}};
    p.totals.tags.resize(tags.size());
    const PollCounts& counts = p.totals.all;
    const bool records = o.csv || o.json;
    long round = 0;
    const long rounds = o.once ? 1 : o.polls;
    if (o.csv) std::printf("%s\n", CsvHeader(o.count).c_str());
    if (!o.quiet && !live && !records) {
        std::printf("%s Polling %lu tag(s) every %d ms%s\n", ClockText().c_str(), static_cast<unsigned long>(tags.size()),
                    o.intervalMs, rounds > 0 ? "" : ", Ctrl-C to stop");
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
        PollRound(p, tags, ++round);
        p.reconnector.Run(o, &host, summary, &p.explainer, &p.messages);
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
    p.messages.EndLine();
    if (!o.quiet) {
        // With --csv or --json standard output holds the records alone.
        std::FILE* to = records ? stderr : stdout;
        PrintStatistics(to, p.totals, tags, round, overran, seconds);
        p.reconnector.PrintStatistics(to);
    }
    if (stopped) return kExitInterrupted;
    return counts.Errors() == 0 && counts.sent != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
