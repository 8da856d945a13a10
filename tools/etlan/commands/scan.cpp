// etlan scan: every station of the station file, one line each: the
// address the driver connects, whether its host text gives one, whether it
// connected, whether it answers a harmless read (D 0) and how fast, and
// when it does not, why, in the words of the driver's log.
//
// All stations are asked at once: each by a driver instance of its own,
// on a thread of its own, started on a station file of its line alone
// (under a driver number of its own, in the temporary directory), so the
// scan takes one exchange's time in all, not one per station. The driver's
// instances are independent; they share the host log, whose lines name
// their station. A station from 10 on that gives no reply, or answers with
// another station's number, is asked once more with the station field in
// the other form (station-field=), which tells a unit set to that form;
// that question takes at most the line's time-out, so a scan with such a
// station takes four of its time-outs rather than three.
// Lines are printed as the stations finish; on a terminal a progress line
// shows how many are still asked.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "host/vocabulary.h"
#include "stations/station_line.h"
#include "stations/station_options.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/console.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {
namespace {

using Clock = std::chrono::steady_clock;

// The driver numbers of the stations' own files: above the 0-999 of -d,
// so that they never meet the file of the command line.
constexpr int kFirstDriverNumber = 1000;
constexpr int kOtherFormDriverNumber = 2000;

// Whether a log line is about the station: "station 5 fails: ...",
// "Fail on station 5 rc = ...", "Station num:  5 ...".
bool IsAbout(const std::string& line, int station) {
    int n = 0;
    if (const auto at = line.find("Station num:"); at != std::string::npos) {
        return std::sscanf(line.c_str() + at, "Station num: %d", &n) == 1 && n == station;
    }
    for (auto at = line.find("station "); at != std::string::npos; at = line.find("station ", at + 1)) {
        const char* p = line.c_str() + at + 8;
        if (*p >= '0' && *p <= '9' && std::sscanf(p, "%d", &n) == 1 && n == station) return true;
    }
    return false;
}

std::vector<std::string> LinesAbout(const std::vector<std::string>& lines, int station) {
    std::vector<std::string> out;
    for (const auto& l : lines) {
        if (IsAbout(l, station)) out.push_back(l);
    }
    return out;
}

// Why the connection of the start failed, from "ConnectSocket() Fail on
// station 5 rc = 257 (connection refused)"; empty when it did not.
std::string ConnectFailure(const std::vector<std::string>& lines) {
    for (const auto& l : lines) {
        const auto at = l.find("Fail on station ");
        if (at == std::string::npos) continue;
        const auto open = l.find(" (", at);
        const auto close = l.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close > open) return l.substr(open + 2, close - open - 2);
        const auto rc = l.find("rc = ", at);
        return rc != std::string::npos ? "connection failed, " + l.substr(rc) : "connection failed";
    }
    return "";
}

// Why an exchange failed, from the driver's "station 5 fails: ..." line,
// without the command text and what follows it: "no reply within 1000 ms",
// "closed by the PLC", "connection refused", "PLC error 42 (command not
// supported)", "another station's number in the answer"; empty when the
// log has no such line.
std::string FailureReason(const std::vector<std::string>& lines) {
    for (const auto& l : lines) {
        const auto at = l.find(" fails: ");
        if (at == std::string::npos) continue;
        std::string r = l.substr(at + 8);
        for (const char* cut : {" to %", " at %", " to <", " at <", "; ", " ["}) {
            const auto c = r.find(cut);
            if (c != std::string::npos) r.erase(c);
        }
        if (r.rfind("no answer within ", 0) == 0) return "no reply" + r.substr(9);
        if (r.rfind("connection closed by the PLC", 0) == 0) return "closed by the PLC";
        if (r.rfind("reconnect failed", 0) == 0) {
            const auto open = r.find(" (");
            if (open != std::string::npos && r.back() == ')') return r.substr(open + 2, r.size() - open - 3);
        }
        return r;
    }
    return "";
}

// The station's lines of the file with the station field set to the given
// form, for a second question: the line's other options kept when they
// were understood (its comment left out), and a third of its time-out per
// attempt, so that an answer within the line's time-out is still taken (a
// late answer counts in a later attempt) while a station silent in this
// form too costs one time-out, not three.
std::string WithStationField(const std::string& content, int station, bool decimal) {
    std::string out;
    std::size_t at = 0;
    bool header = true;
    while (at < content.size()) {
        const auto end = content.find('\n', at);
        const std::size_t stop = end == std::string::npos ? content.size() : end + 1;
        std::string line = content.substr(at, stop - at);
        at = stop;
        const char* host = nullptr;
        const char* hostEnd = nullptr;
        const char* port = nullptr;
        const char* portEnd = nullptr;
        if (header || IsStationComment(line.c_str()) || line.size() < 2 || StationNumberOf(line.c_str()) != station ||
            !QuotedText(line.c_str(), &host, &hostEnd) || !QuotedText(hostEnd + 1, &port, &portEnd)) {
            out += line;
            header = false;
            continue;
        }
        const std::string options(portEnd + 1);
        StationOptions parsed{};
        OptionsReading reading;
        std::string kept;
        std::uint32_t timeout = kDefaultTimeoutMs;
        if (ParseStationOptions(options.c_str(), &parsed, &reading)) {
            if ((reading.given & kGivenTimeout) != 0) timeout = LoadU16(parsed.timeoutMs);
            std::size_t p = 0;
            for (;;) {
                p = options.find_first_not_of(" \t\r\n", p);
                if (p == std::string::npos || options[p] == ';') break;
                const auto wordEnd = options.find_first_of(" \t\r\n", p);
                const std::string word = options.substr(p, wordEnd == std::string::npos ? std::string::npos : wordEnd - p);
                if (word.rfind("station-field=", 0) != 0 && word.rfind("timeout=", 0) != 0) kept += " " + word;
                p = wordEnd;
            }
        }
        out.append(line.c_str(), static_cast<std::size_t>(portEnd + 1 - line.c_str()));
        out += decimal ? " station-field=decimal" : " station-field=hex";
        out += " timeout=" + std::to_string(timeout / 3 > kMinTimeoutMs ? timeout / 3 : kMinTimeoutMs);
        out += kept;
        out += end == std::string::npos ? "" : "\n";
    }
    return out;
}

// The outcome of one station, as its line shows it.
struct StationScan {
    int station = 0;
    bool answers = false;
    std::string verdict;
    std::vector<std::string> log;  // the driver's lines about the station
};

// What a station's thread needs.
struct StationJob {
    int station = 0;
    std::string ok;          // "address ok" or "address ok (\"localhost\")"
    bool decimal = false;    // its line asks for the station field in decimal
    int line = 0;            // the line that defines it
    std::string otherForm;   // its lines with the station field in the other form
    std::string missing;     // why the driver would not take it
    DriverHost* host = nullptr;
};

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// One read of D 0 on a started instance; the log lines it drew.
ReadOutcome ReadZero(DriverHost* host, int station, std::vector<std::string>* log) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dD00000", station);
    Tag t;
    t.name = text;
    t.type.dataType = 0;
    RunCheck(host, t.name, 0, 1, false, &t.check);
    ReadOutcome r = ReadTag(host, t, 1);
    const auto lines = LinesAbout(host->TakeLog(), station);
    log->insert(log->end(), lines.begin(), lines.end());
    return r;
}

// Starts the station's instance on its own file, asks it, and when it gives
// no reply or another station's number, asks once more in the other form.
StationScan AskStation(const StationJob& job) {
    StationScan out;
    out.station = job.station;
    const int s = job.station;
    DriverHost* host = job.host;
    const std::string file = StationFileName(kFirstDriverNumber + s);
    const std::int32_t rc = host->ColdStart(kFirstDriverNumber + s);
    std::error_code ec;
    std::filesystem::remove(file, ec);  // read at the start alone
    out.log = LinesAbout(host->TakeLog(), s);
    char text[256];
    if (host->LogLost()) {
        // Nothing the log holds, or misses, tells what the driver did.
        out.verdict = "FAIL  the driver's log was not written: etlan cannot tell what the driver did";
        return out;
    }
    if (rc != kOk) {
        std::snprintf(text, sizeof text, "FAIL  the driver's start failed: result %ld (%s)", static_cast<long>(rc),
                      ResultText(rc, kColdStart));
        out.verdict = text;
        return out;
    }
    bool taken = false;
    for (const auto& l : out.log) taken = taken || l.find("Station num:") != std::string::npos;
    if (!taken) {
        out.verdict = "FAIL  not taken by the driver: " + job.missing;
        return out;
    }
    if (const std::string why = ConnectFailure(out.log); !why.empty()) {
        out.verdict = "FAIL  " + job.ok + ", no connection: " + why;
        return out;
    }
    const ReadOutcome r = ReadZero(host, s, &out.log);
    if (r.result == kOk) {
        std::snprintf(text, sizeof text, "ok    %s, connected, answers D 0 in %.1f ms", job.ok.c_str(), r.ms);
        out.verdict = text;
        out.answers = true;
        return out;
    }
    std::string reason = FailureReason(out.log);
    if (reason.empty()) reason = r.result == kInvalid ? "refused" : "no answer";
    std::snprintf(text, sizeof text, "FAIL  %s, connected, read of D 0: %s, result %ld after %.1f ms", job.ok.c_str(),
                  reason.c_str(), static_cast<long>(r.result), r.ms);
    out.verdict = text;
    // Stations 1-9 read the same in both forms.
    const bool silent = reason.rfind("no reply", 0) == 0 || reason.find("another station's number") != std::string::npos;
    if (s < 10 || !silent || job.otherForm.empty()) return out;

    host->EndVpi();
    host->TakeLog();
    const std::string other = StationFileName(kOtherFormDriverNumber + s);
    if (!WriteText(other, job.otherForm)) return out;
    const std::int32_t again = host->ColdStart(kOtherFormDriverNumber + s);
    std::filesystem::remove(other, ec);
    const std::vector<std::string> log = LinesAbout(host->TakeLog(), s);
    out.log.insert(out.log.end(), log.begin(), log.end());
    if (again != kOk || !ConnectFailure(log).empty()) return out;
    const ReadOutcome second = ReadZero(host, s, &out.log);
    if (second.result != kOk) return out;
    const char* form = job.decimal ? "hex" : "decimal";
    std::snprintf(text, sizeof text, "; it answers with the station field in %s (in %.1f ms): write station-field=%s after the port on line %d",
                  form, second.ms, form, job.line);
    out.verdict += text;
    return out;
}

// The progress line on a terminal, drawn over and over in place.
class Progress {
public:
    explicit Progress(int total) : on_(OutputIsTerminal()), total_(total), begin_(Clock::now()) {}
    void Show(int done) {
        if (!on_) return;
        const double s = std::chrono::duration<double>(Clock::now() - begin_).count();
        char text[96];
        const int n = std::snprintf(text, sizeof text, "scanning: %d of %d station(s) done, %.1f s", done, total_, s);
        std::printf("\r%s", text);
        width_ = n > width_ ? n : width_;
        std::fflush(stdout);
    }
    void Clear() {
        if (!on_ || width_ == 0) return;
        std::printf("\r%*s\r", width_, "");
        width_ = 0;
    }

private:
    bool on_;
    int total_;
    Clock::time_point begin_;
    int width_ = 0;
};

}  // namespace

int CmdScan(const Options& o) {
    if (!o.args.empty()) return Usage("scan takes no arguments");
    // The file as the driver will read it (--host and --timeout included).
    std::string file;
    std::string content;
    std::string why;
    if (!StationFileText(o, nullptr, &file, &content, &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    const StationLint lint = LintStations(content);
    DriverHost logHost;  // the library's first load and the log, for every instance
    if (!LoadDriver(o, &logHost)) return kExitCannotRun;
    // The file in a temporary directory (through the relay with --trace),
    // and beside it one file per station, of the header and its lines.
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    std::string prepared;
    if (!ReadWholeFile(StationFileName(o.driver), &prepared)) prepared = content;
    // The file's errors of the stations that fail on them (line numbers
    // the editor's), last.
    const auto explain = [&] {
        for (const auto& p : lint.problems) {
            if (p.error && (lint.defined.count(p.station) == 0 || !lint.usable.at(p.station))) {
                std::fprintf(stderr, "%s:%d: error: %s\n", file.c_str(), p.line, p.text.c_str());
            }
        }
    };

    std::vector<std::unique_ptr<DriverHost>> hosts;
    std::vector<StationJob> jobs;
    std::vector<StationScan> settled;  // known without asking
    // A name that does not resolve fails the driver's whole start; each
    // station is still asked on its own, for what it tells.
    for (const auto& [station, where] : lint.unresolved) {
        if (lint.defined.count(station) != 0) continue;
        settled.push_back({station, false,
                           "FAIL  host name does not resolve: with it the driver's start fails (ColdStart result 2) and no "
                           "station connects",
                           {}});
    }
    for (int station : lint.defined) {
        const auto named = lint.hostText.find(station);
        StationJob job;
        job.station = station;
        job.ok = named == lint.hostText.end() ? "address ok" : "address ok (\"" + named->second + "\")";
        if (station < 1) {
            settled.push_back({station, false, "FAIL  station 0 is no station (1-64): no tag can name it", {}});
            continue;
        }
        if (!lint.usable.at(station)) {
            settled.push_back({station, false, "FAIL  host text gives no usable address", {}});
            continue;
        }
        const std::string own = OnlyStations(prepared, {station});
        if (!WriteText(StationFileName(kFirstDriverNumber + station), own)) {
            std::fprintf(stderr, "etlan: cannot write %s in the temporary directory\n",
                         StationFileName(kFirstDriverNumber + station).c_str());
            return kExitCannotRun;
        }
        const auto options = lint.options.find(station);
        job.decimal = options != lint.options.end() && options->second.find("station-field=decimal") != std::string::npos;
        job.missing = MissingStationReason(lint, station);
        job.line = lint.line.count(station) != 0 ? lint.line.at(station) : 0;
        if (station >= 10) job.otherForm = WithStationField(own, station, !job.decimal);
        auto host = std::make_unique<DriverHost>();
        host->ShareLog(logHost);
        if (!host->Load(LibraryPath(o))) {
            std::fprintf(stderr, "etlan: cannot load the driver library %s: %s\n", LibraryPath(o).c_str(), host->Error().c_str());
            return kExitCannotRun;
        }
        job.host = host.get();
        hosts.push_back(std::move(host));
        jobs.push_back(job);
    }

    std::mutex lock;
    std::condition_variable changed;
    std::deque<StationScan> finished(settled.begin(), settled.end());
    std::vector<std::thread> threads;
    WatchStop(true);
    for (const StationJob& job : jobs) {
        threads.emplace_back([&, job] {
            StationScan result = AskStation(job);
            std::lock_guard<std::mutex> hold(lock);
            finished.push_back(std::move(result));
            changed.notify_one();
        });
    }

    const int total = static_cast<int>(settled.size() + jobs.size());
    int good = 0, failed = 0;
    Progress progress(total);
    while (good + failed < total) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait_for(hold, std::chrono::milliseconds(200), [&] { return !finished.empty() || StopRequested(); });
        std::deque<StationScan> ready;
        ready.swap(finished);
        hold.unlock();
        progress.Clear();
        for (const StationScan& r : ready) {
            const auto at = lint.address.find(r.station);
            const auto name = lint.unresolved.find(r.station);
            const std::string where = at != lint.address.end() ? at->second : name != lint.unresolved.end() ? name->second : "?";
            std::printf("station %2d  %-21s %s\n", r.station, where.c_str(), r.verdict.c_str());
            if (o.verbose) PrintLog(r.log);
            ++(r.answers ? good : failed);
        }
        std::fflush(stdout);
        if (StopRequested()) {
            // The stations still asked are inside the driver, which cannot
            // be cut short: what was found is told, then the process ends.
            std::printf("%d of %d station(s) asked: %d answer, %d failed; interrupted\n", good + failed, total, good, failed);
            std::fflush(stdout);
            std::fflush(stderr);
            dir.Release();
            for (auto& h : hosts) h->Abandon();
            logHost.Abandon();
            std::_Exit(kExitInterrupted);
        }
        if (good + failed < total) progress.Show(good + failed);
    }
    for (auto& t : threads) t.join();
    WatchStop(false);
    progress.Clear();
    std::printf("%d station(s): %d answer, %d failed\n", good + failed, good, failed);
    std::fflush(stdout);
    explain();
    return failed == 0 && good != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
