// The tags of the read, write and poll commands: the address check through
// VpiMain with every field it fills, the reads, and what the start's log
// lines say about the stations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "tools/etlan/driver.h"
#include "tools/etlan/options.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

struct CheckedTag {
    std::vector<char> text;  // the host's copy; code 4 upper-cases it
    TagAddressBlock block{};
    int dataType = 0;
    bool suffix = false;
    std::string typeWhy;
    std::int32_t result = kFailed;
};

// The address check (code 3, or 4 with suffix) of tag; the fields it does
// not fill keep values that show as "(not set)".
std::int32_t RunCheck(DriverHost* host, const std::string& tag, int dataType, int count, bool suffix,
                      CheckedTag* out);

// Why the driver refused the text (or what etlan's rules say of a text it
// accepted), and the notes that hold either way.
void PrintReasons(const CheckedTag& c, const std::string& tag, int count, std::FILE* to = stdout);

struct Tag {
    std::string name;  // as given, upper-cased
    CheckedTag check;
    TypeChoice type;
    int count = 1;          // the elements this request reads
    std::vector<Tag> more;  // the further requests of a range longer than one takes
};

// What read, write and poll do first: the driver loaded and asked for its
// identity (the host's first call), every tag checked, a range of -c N
// longer than one request takes split into requests that are checked too,
// the station file in place (for a one-shot command with the lines of the
// tags' stations alone). kExitOk, or the exit status to end with.
int OpenTags(const Options& o, const std::vector<std::string>& names, StationDir* dir, DriverHost* host,
             std::vector<Tag>* tags, bool oneShot);

// Checks every tag, with the count of -c up to the most one request takes
// for its memory code; prints why when one is invalid. With --format float
// a word tag is read as two words (data type 3) unless -t gives its type.
bool CheckTags(const Options& o, DriverHost* host, const std::vector<std::string>& names, std::vector<Tag>* tags);

// The most elements one request takes for the tag text's memory code.
int RequestLimit(const std::string& name);

// What the start's log lines say about the stations.
struct StartSummary {
    int defined = -1;
    std::set<int> stations;  // lines accepted
    std::set<int> failed;    // connections that failed
    std::map<int, std::string> why;  // why they failed, in plain words
    int connected = 0;
};

StartSummary Summarize(const std::vector<std::string>& lines);

// Starts the instance; prints the log lines when verbose or failed.
bool StartDriver(const Options& o, DriverHost* host, StartSummary* summary);
void FinishDriver(const Options& o, DriverHost* host);

// Why a station gives no answer, from what the start reported and, for a
// station it did not define, from the station file's lines.
std::string StationHint(const StartSummary& s, const StationDir& dir, int plc);

// "PLC 1, data register D 100" and "16-bit", "32-bit", "bit" or "bits".
std::string Describe(const Tag& t);
std::string Kind(const Tag& t, int count);

struct ReadOutcome {
    std::int32_t result = kFailed;
    double ms = 0;
    std::vector<std::uint8_t> buffer;
};

// The block of codes 5, 6 and 7 for a checked tag.
TagIoBlock IoBlockOf(const Tag& t, int count, void* buffer);

// One read of the tag (code 5, or 6 for count > 1) into a fresh buffer.
ReadOutcome ReadTag(DriverHost* host, Tag& t, int count);

// The values of a successful read, one text per element; decimalOnly
// leaves out the hex.
std::vector<std::string> Values(const Tag& t, const ReadOutcome& r, int count, bool decimalOnly);

// The width of the values of a read of count elements of the tag: 1 (bits),
// 16 or 32; and the values of a successful read, a double word joined
// from its words in the order given.
int ValueBits(const Tag& t, int count);
std::vector<std::uint32_t> RawValues(const Tag& t, const ReadOutcome& r, int count, bool highWordFirst);

// A read of a tag's whole range: its requests one after the other, up to
// the first that fails.
struct RangeOutcome {
    std::int32_t result = kFailed;       // the failed request's, or 0
    double ms = 0;                       // all requests
    int bits = 16;                       // the values' width
    std::vector<std::uint32_t> values;   // one per element, when result is 0
    std::vector<ReadOutcome> requests;   // made, the failed one last
    std::vector<std::string> log;        // the driver's log lines of them
};
RangeOutcome ReadRange(DriverHost* host, Tag& t, bool highWordFirst);

// The text of the tag offset addresses after the given one ("01D00100" + 2
// is "01D00102"), with the same number of address digits and the same
// suffix; false when it does not fit them.
bool OffsetTag(const std::string& name, unsigned offset, std::string* out);

// The first bytes of a value buffer in hex.
std::string BufferHex(const std::vector<std::uint8_t>& buf, std::size_t bytes);

}  // namespace etl::etlan
