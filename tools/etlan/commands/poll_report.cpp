#include "tools/etlan/commands/poll_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace etl::etlan {

// Texts are appended piece by piece here too (mingw's GCC 12 and its false
// -Wrestrict).

void PollCounts::Add(const ReadOutcome& r) {
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

namespace {

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

// A text as a CSV field (quoted when it holds a comma or a quote) and as a
// JSON string.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + "\"";
}

// "good N, refused N, no answer N, min/avg/max A/B/C ms" of some reads.
std::string CountsText(const PollCounts& c) {
    char text[160];
    std::snprintf(text, sizeof text, "good %lu, refused %lu, no answer %lu, min/avg/max %.1f/%.1f/%.1f ms", c.good,
                  c.refused, c.noAnswer, c.minMs, c.sent ? c.sumMs / static_cast<double>(c.sent) : 0.0, c.maxMs);
    return text;
}

}  // namespace

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

std::string CsvHeader(int count) {
    std::string header = "time,round,tag,station,result,meaning,";
    if (count <= 1) {
        header += "value";
    } else {
        for (int i = 0; i < count; ++i) {
            header += i == 0 ? "value" : ",value";
            header += std::to_string(i);
        }
    }
    return header + ",ms,reason";
}

void PrintRecord(const Options& o, ValueFormat format, const Tag& t, const RangeOutcome& r, const std::string& reason,
                 long round) {
    const bool json = o.json;
    std::string values;
    const std::size_t columns = static_cast<std::size_t>(std::max(o.count, 1));
    for (std::size_t i = 0; i < (json ? r.values.size() : columns); ++i) {
        if (i != 0) values += ',';
        if (i < r.values.size()) values += RecordValue(r.values[i], r.bits, format, json);
    }
    const int station = t.check.block.plcNumber;
    const std::string stamp = TimeStamp();
    if (json) {
        std::string value = "null";
        if (r.result == 0) {
            value = "[";
            value += values;
            value += "]";
        }
        std::printf("{\"time\":\"%s\",\"round\":%ld,\"tag\":\"%s\",\"station\":%d,\"result\":%ld,"
                    "\"meaning\":\"%s\",\"value\":%s,\"ms\":%.3f,\"reason\":%s}\n",
                    stamp.c_str(), round, t.name.c_str(), station, static_cast<long>(r.result), Meaning(r.result),
                    value.c_str(), r.ms, r.result == 0 ? "null" : JsonString(reason).c_str());
    } else {
        std::printf("%s,%ld,%s,%d,%ld,%s,%s,%.3f,%s\n", stamp.c_str(), round, t.name.c_str(), station,
                    static_cast<long>(r.result), Meaning(r.result), values.c_str(), r.ms,
                    r.result == 0 ? "" : CsvField(reason).c_str());
    }
}

}  // namespace etl::etlan
