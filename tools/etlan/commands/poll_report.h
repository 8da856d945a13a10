// What a poll reports besides its line: the counts of its reads with the
// statistics made of them at the end, and the records of --csv and --json.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/etlan/commands/tags.h"

namespace etl::etlan {

// The reads of a poll so far, counted as ping counts its packets: each
// request of a range on its own.
struct PollCounts {
    unsigned long sent = 0, good = 0, refused = 0, noAnswer = 0;
    double minMs = 0, maxMs = 0, sumMs = 0;

    void Add(const ReadOutcome& r);
    unsigned long Errors() const { return refused + noAnswer; }
};

// The counts of the whole poll, of each tag and of each station.
struct PollTotals {
    PollCounts all;
    std::vector<PollCounts> tags;
    std::map<int, PollCounts> stations;
};

// The statistics at the end, as ping's: the rounds, the requests and their
// times, then each tag's and each station's counts when there are several.
void PrintStatistics(std::FILE* to, const PollTotals& totals, const std::vector<Tag>& tags, long rounds, long overran,
                     double seconds);

// The CSV header: a value column per element of a block.
std::string CsvHeader(int count);

// One record of one read for --csv or --json: time, round, tag, station,
// result and its meaning, the values (a column each in CSV), the time it
// took, and why it failed.
void PrintRecord(const Options& o, ValueFormat format, const Tag& t, const RangeOutcome& r, const std::string& reason,
                 long round);

}  // namespace etl::etlan
