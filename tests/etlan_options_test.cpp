// etlan's command line read by ParseOptions alone: every wrong line is
// refused with a message naming the argument as given and what it takes,
// before anything is loaded or sent; and the lines that look wrong but are
// right (negative values, clusters, abbreviations) still pass. Also the
// value texts of write and the files named on the line.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tools/etlan/options.h"
#include "tools/etlan/station_file.h"
#include "tools/etlan/station_lint.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

bool Parse(const std::vector<std::string>& words, Options* o, std::string* why) {
    std::vector<std::string> line{"etlan"};
    line.insert(line.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& w : line) argv.push_back(w.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(line.size()), argv.data(), o, why);
}

std::string Joined(const std::vector<std::string>& words) {
    std::string s;
    for (const auto& w : words) {
        s += s.empty() ? "[" : " [";
        s += w;
        s += ']';
    }
    return s;
}

struct BadLine {
    std::vector<std::string> words;
    std::vector<std::string> says;  // every one in the message
};

TEST(EtlanOptions, WrongLinesAreRefusedNamingTheArgumentAndWhatItTakes) {
    const BadLine rows[] = {
        // Values of number options: junk, blanks, signs, range, overflow.
        {{"read", "01D00100", "-c", "5x"}, {"option --count", "\"5x\"", "not a number from 1 to 1000"}},
        {{"read", "01D00100", "-c", " 5"}, {"\" 5\"", "from 1 to 1000"}},
        {{"read", "01D00100", "-c", "+5"}, {"\"+5\"", "from 1 to 1000"}},
        {{"read", "01D00100", "-c", "0"}, {"\"0\"", "from 1 to 1000"}},
        {{"read", "01D00100", "-c", "-5"}, {"\"-5\"", "from 1 to 1000"}},
        {{"read", "01D00100", "-c", ""}, {"option --count", "\"\""}},
        {{"read", "01D00100", "-c", "99999999999999999999"}, {"\"99999999999999999999\"", "from 1 to 1000"}},
        {{"read", "01D00100", "--count=1001"}, {"option --count", "\"1001\" is above 1000", "27 elements"}},
        {{"bench", "-c", "10000001"}, {"\"10000001\"", "from 1 to 10000000"}},
        {{"read", "01D00100", "-c"}, {"option -c needs a value", "a number from 1 to 1000"}},
        {{"read", "01D00100", "--count"}, {"option --count needs a value"}},
        {{"start", "-d", "1000"}, {"option --driver", "\"1000\"", "from 0 to 999"}},
        {{"start", "-d", "x"}, {"option --driver", "\"x\"", "from 0 to 999"}},
        {{"read", "01D00100", "-t", "99999999999"}, {"option --type", "\"99999999999\""}},
        {{"poll", "01D00100", "-l", "5"}, {"option --interval", "\"5\"", "from 10 to 3600000"}},
        {{"poll", "01D00100", "-n", "0"}, {"option --polls", "\"0\"", "from 1 to"}},
        {{"bench", "--plc", "65"}, {"option --plc", "\"65\"", "from 1 to 64"}},
        {{"bench", "--silent-limit", "5x"}, {"option --silent-limit", "\"5x\"", "seconds from 0.1 to 3600"}},
        // Text options: empty, missing, malformed.
        {{"read", "01D00100", "-s", ""}, {"option --stations", "\"\"", "station file"}},
        {{"read", "01D00100", "-s"}, {"option -s needs a value", "station file"}},
        {{"read", "01D00100", "--library="}, {"option --library", "\"\""}},
        {{"read", "01D00100", "--log", ""}, {"option --log", "\"\""}},
        {{"bench", "--raw", "127.0.0.1:99999"}, {"option --raw", "\"127.0.0.1:99999\"", "HOST:PORT", "1 to 65535"}},
        {{"bench", "--raw", "nonsense"}, {"option --raw", "\"nonsense\"", "HOST:PORT"}},
        // Options that mean nothing to the command.
        {{"read", "01D00100", "-n", "3"}, {"option -n is for poll", "not for read"}},
        {{"read", "01D00100", "-1"}, {"option -1 is for poll", "not for read"}},
        {{"write", "01D00100", "5", "-c", "2"}, {"option -c is for check, read, poll and bench", "not for write"}},
        {{"info", "-s", "zavUR01.int"}, {"option -s is for", "not for info"}},
        {{"lint", "--library", "x.so"}, {"option --library", "not for lint"}},
        {{"check", "01D00100", "--trace"}, {"--trace is for scan, read, write and poll", "not for check"}},
        {{"read", "01D00100", "--csv"}, {"--csv is for poll"}},
        {{"warmstart", "1", "-t", "3"}, {"option -t", "not for warmstart"}},
        {{"start", "--verify"}, {"option --verify is for write", "not for start"}},
        {{"read", "01D00100", "--plc", "1"}, {"option --plc is for bench"}},
        // Arguments: missing, extra, unknown commands.
        {{"read"}, {"read takes TAG", "TAG missing"}},
        {{"read", "01D00100", "01D00101"}, {"read takes TAG", "unexpected argument \"01D00101\""}},
        {{"write", "01D00100"}, {"write takes TAG VALUE...", "VALUE missing"}},
        {{"warmstart"}, {"warmstart takes N...", "N missing"}},
        {{"info", "x"}, {"info takes no arguments", "unexpected argument \"x\""}},
        {{"lint", "a.int", "b.int"}, {"unexpected argument \"b.int\""}},
        {{"lint", "a.int", "-s", "b.int"}, {"lint takes FILE or -s FILE, not both"}},
        {{"frobnicate"}, {"unknown command \"frobnicate\"", "one of info, check"}},
        {{""}, {"unknown command \"\""}},
        {{"help", "foo"}, {"help: no command \"foo\""}},
        {{"-c", "5"}, {"no command given", "one of info"}},
        // Unknown options and options that exclude each other.
        {{"read", "01D00100", "-x"}, {"unknown option -x"}},
        {{"read", "01D00100", "--frobnicate"}, {"unknown option --frobnicate"}},
        {{"-1", "write", "01D00100", "5"}, {"option -1 is for poll"}},
        {{"read", "01D00100", "-q", "-v"}, {"option --quiet excludes --verbose"}},
        {{"poll", "01D00100", "--csv", "--json"}, {"option --csv excludes --json"}},
        {{"poll", "01D00100", "-1", "-n", "3"}, {"option --once excludes --polls"}},
        // Long options: a value given to a flag, a prefix of several names.
        {{"write", "01D00100", "5", "--verify=yes"}, {"option --verify takes no value (\"yes\" given)"}},
        {{"poll", "01D00100", "--once=1"}, {"option --once takes no value (\"1\" given)"}},
        {{"poll", "01D00100", "--s", "x"}, {"option --s is ambiguous", "--stations", "--suffix", "--silent-limit"}},
        {{"check", "01D00100", "--", "-x"}, {"check takes TAG: unexpected argument \"-x\""}},
        // A target without a station file, the time-out and the value formats.
        {{"read", "01D00100", "--host", "127.0.0.1"}, {"option --host", "\"127.0.0.1\"", "HOST:PORT"}},
        {{"read", "01D00100", "--host", "plc-in-hall-two2:9094"}, {"\"plc-in-hall-two2:9094\"", "at most 15 characters"}},
        {{"read", "01D00100", "--host", "127.0.0.1:70000"}, {"\"127.0.0.1:70000\"", "a port from 1 to 65535"}},
        {{"read", "01D00100", "--host", "\"plc\":9094"}, {"option --host", "HOST:PORT"}},
        {{"read", "01D00100", "--host", "127.0.0.1:9094", "-s", "x.int"}, {"excludes"}},
        {{"start", "--host", "127.0.0.1:9094"}, {"option --host is for", "not for start"}},
        {{"read", "01D00100", "--timeout", "49"}, {"option --timeout", "\"49\"", "from 50 to 10000"}},
        {{"poll", "01D00100", "--timeout=10001"}, {"\"10001\"", "from 50 to 10000"}},
        {{"read", "01D00100", "--format", "real"}, {"option --format", "\"real\"", "one of int, uint, hex, bcd or float"}},
        {{"write", "01D00100", "5", "--format", "int"}, {"option --format is for read and poll", "not for write"}},
        {{"poll", "01D00100", "--word-order", "big"}, {"option --word-order", "one of low-first or high-first"}},
    };
    for (const BadLine& row : rows) {
        Options o;
        std::string why;
        EXPECT_FALSE(Parse(row.words, &o, &why)) << Joined(row.words);
        for (const auto& word : row.says) {
            EXPECT_NE(why.find(word), std::string::npos) << Joined(row.words) << "\n  message: " << why << "\n  lacks: " << word;
        }
    }
}

TEST(EtlanOptions, LinesThatLookWrongButAreRightPass) {
    struct Good {
        std::vector<std::string> words;
        std::vector<std::string> args;  // the command's arguments as read
    };
    const Good rows[] = {
        {{"write", "01D00500", "-2"}, {"01D00500", "-2"}},
        {{"write", "01D00500", "-1", "-0x10", "-q"}, {"01D00500", "-1", "-0x10"}},
        {{"--dri", "1", "write", "01D00100", "-1"}, {"01D00100", "-1"}},  // an abbreviation takes its value
        {{"warmstart", "1", "-1"}, {"1", "-1"}},                          // refused later, by its value
        {{"read", "01D00300", "-qc2", "-s", "x.int"}, {"01D00300"}},
        {{"poll", "01D00300", "-1q", "-d1"}, {"01D00300"}},
        {{"read", "01D00100", "-t", "-1"}, {"01D00100"}},
        {{"bench", "-c", "5000", "--raw", "127.0.0.1:9094"}, {}},
        {{"read", "--help", "-n", "3"}, {"3"}},  // help whatever else the line holds
        {{"help", "read"}, {"read"}},
    };
    for (const Good& row : rows) {
        Options o;
        std::string why;
        EXPECT_TRUE(Parse(row.words, &o, &why)) << Joined(row.words) << ": " << why;
        EXPECT_EQ(o.args, row.args) << Joined(row.words);
    }
    Options o;
    std::string why;
    ASSERT_TRUE(Parse({"read", "01D00100", "-t", "-1"}, &o, &why)) << why;
    EXPECT_TRUE(o.typeGiven);  // -1 is a data type like any other, not "none given"
    EXPECT_EQ(o.type, -1);
    o = Options{};
    ASSERT_TRUE(Parse({"poll", "01D00100", "--host=127.0.0.1:9094", "--timeo", "300", "--format", "float", "--word-order",
                       "high-first"},
                      &o, &why))
        << why;
    EXPECT_EQ(o.host, "127.0.0.1:9094");
    EXPECT_EQ(o.timeoutMs, 300);
    EXPECT_EQ(ValueFormatOf(o.format), ValueFormat::kFloat);
    EXPECT_TRUE(o.highWordFirst);
}

TEST(EtlanOptions, WriteValuesAreRefusedNamingTheTextAndTheRangeOfTheTag) {
    struct Row {
        const char* text;
        int bits;
        const char* says;  // empty: accepted, giving value
        std::uint32_t value;
    };
    const Row rows[] = {
        {"70000", 16, "\"70000\" is not a 16-bit value (-32768 to 65535, or 0x0000 to 0xFFFF)", 0},
        {"-32769", 16, "\"-32769\" is not a 16-bit value", 0},
        {"abc", 16, "\"abc\" is not a 16-bit value", 0},
        {"5x", 16, "\"5x\" is not a 16-bit value", 0},
        {" 5", 16, "\" 5\" is not", 0},
        {"", 16, "\"\" is not", 0},
        {"0x", 16, "\"0x\" is not", 0},
        {"99999999999999999999", 32, "\"99999999999999999999\" is not a 32-bit value", 0},
        {"0x100000000", 32, "(-2147483648 to 4294967295, or 0x00000000 to 0xFFFFFFFF)", 0},
        {"2", 1, "\"2\" is not a bit value (0 or 1)", 0},
        {"-1", 1, "\"-1\" is not a bit value", 0},
        {"-32768", 16, "", 0x8000},
        {"-0x8000", 16, "", 0x8000},
        {"0xFFFF", 16, "", 0xFFFF},
        {"-1", 32, "", 0xFFFFFFFF},
        {"4294967295", 32, "", 0xFFFFFFFF},
        {"1", 1, "", 1},
    };
    std::uint32_t written = 0;
    std::string said;
    EXPECT_FALSE(ParseValue("70000", 16, "01D00100", &written, &said));
    EXPECT_EQ(said, "\"70000\" is not a 16-bit value for 01D00100 (-32768 to 65535, or 0x0000 to 0xFFFF)");
    for (const Row& row : rows) {
        std::uint32_t value = 0xDEADBEEF;
        std::string why;
        const bool ok = ParseValue(row.text, row.bits, &value, &why);
        if (row.says[0] == '\0') {
            EXPECT_TRUE(ok) << row.text << ": " << why;
            EXPECT_EQ(value, row.value) << row.text;
        } else {
            EXPECT_FALSE(ok) << row.text;
            EXPECT_NE(why.find(row.says), std::string::npos) << row.text << ": " << why;
        }
    }
}

TEST(EtlanOptions, FilesOnTheLineAreCheckedBeforeAnythingStarts) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("etlan_options_test-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    const std::string stations = (dir / "zavUR01.int").string();
    const std::string library = (dir / "libETLANdr.so").string();
    std::ofstream(stations, std::ios::binary) << "ETLANPC 10\n";
    std::ofstream(library, std::ios::binary) << "ELF";
    const std::string missing = (dir / "missing.int").string();
    struct Row {
        std::string stations, silent, log;
        int status;
        std::string says;
    };
    const Row rows[] = {
        {stations, stations, (dir / "etlan.log").string(), 0, ""},
        {missing, "", "", 3, "option -s: station file \"" + missing + "\" not found"},
        {dir.string(), "", "", 3, "is a directory"},
        {stations, dir.string(), "", 3, "option --silent: station file"},
        {stations, "", (dir / "no-dir" / "etlan.log").string(), 3, "cannot be written"},
        {stations, "", dir.string(), 3, "cannot be written"},
        // The log would be appended to a file of the line's own.
        {stations, "", stations, 2, "is the station file of -s"},
        {stations, "", (dir / "." / "zavUR01.int").string(), 2, "is the station file of -s"},
        {stations, "", library, 2, "is the driver library"},
    };
    for (const Row& row : rows) {
        Options o;
        o.stations = row.stations;
        o.silent = row.silent;
        o.log = row.log;
        std::string why;
        EXPECT_EQ(CheckLineFiles(o, library, &why), row.status) << row.stations << " " << row.silent << " " << row.log;
        EXPECT_NE(why.find(row.says), std::string::npos) << why;
    }
    std::string content;
    ASSERT_TRUE(ReadWholeFile(stations, &content));
    EXPECT_EQ(content, "ETLANPC 10\n");  // untouched
    fs::remove_all(dir);
}

// lint refuses what the driver refuses, naming the line, the text, what the
// driver does and the fix: options, dotted texts read in octal or hex,
// ports that are no port number; a bad port undoes an earlier line.
TEST(EtlanOptions, LintNamesRefusedOptionsAddressesAndPorts) {
    const StationLint lint = LintStations("PC-stn: 99\n"
                                          "01 \"127.0.0.1\" \"9094\" timeout=5s\n"
                                          "02 \"127.0.0.1\" \"9095\" station-field=decimal rest=0 ; ok\n"
                                          "03 \"192.168.001.010\" \"9096\"\n"
                                          "04 \"0x7f.0.0.1\" \"9097\"\n"
                                          "05 \"127.0.0.1\" \"9O94\"\n"
                                          "06 \"127.0.0.1\" \"70000\" timeout=500\n"
                                          "07 \"127.0.0.1\" \"9098\" rest=1 rest=2\n"
                                          "08 \"127.0.0.1\" \"9099\" retries=3\n"
                                          "09 \"127.0.0.1\" \" 9100 \" timeout=20000\n"
                                          "10 \"127.0.0.1\" \"http\"\n"
                                          "11 \"127.0.0.1\" \"9101\"\n"
                                          "11 \"127.0.0.1\" \"\"\n");
    const std::string defaults =
        "; the station runs with the defaults (allowed: station-field=hex|decimal, timeout=50-10000, rest=0-3600, scan=0-60000)";
    const std::string port = "\" is no port number 1-65535: the driver does not define station ";
    const std::string fix = " (write the unit's TCP port, a number such as \"9094\")";
    const std::string octal = "\" has a part with a leading 0, which the driver would read in octal or hex "
                              "(another device): it never connects station ";
    const std::vector<std::tuple<int, bool, std::string>> expected = {
        {2, true, "option \"timeout=5s\" is not understood" + defaults},
        {4, true, "station 3: host text \"192.168.001.010" + octal + "3 (write \"192.168.1.10\")"},
        {5, true, "station 4: host text \"0x7f.0.0.1" + octal + "4 (write each part in decimal without a leading 0)"},
        {6, true, "station 5: port \"9O94" + port + "5" + fix},
        {7, true, "station 6: port \"70000" + port + "6" + fix},
        {8, true, "option \"rest=2\" repeats an option of the line" + defaults},
        {9, true, "option \"retries=3\" is no option" + defaults},
        {10, true, "option \"timeout=20000\" is out of range" + defaults},
        {11, false, "station 10: port \"http\" is taken as the name of a TCP service: where the system knows no such "
                    "service, the driver does not define station 10 (write the port number)"},
        {13, true, "station 11: port \"" + port + "11" + fix},
    };
    std::vector<std::tuple<int, bool, std::string>> said;
    for (const auto& p : lint.problems) said.emplace_back(p.line, p.error, p.text);
    EXPECT_EQ(said, expected);
    EXPECT_EQ(lint.defined, (std::set<int>{1, 2, 3, 4, 7, 8, 9, 10}));
    EXPECT_EQ(lint.options, (std::map<int, std::string>{{2, "station-field=decimal rest=0 s (never rests)"}}));
    EXPECT_FALSE(lint.usable.at(3));
    EXPECT_FALSE(lint.usable.at(4));
    EXPECT_EQ(lint.address.count(11), 0u);
    EXPECT_EQ(MissingStationReason(lint, 5), "line 6: station 5: port \"9O94" + port + "5" + fix);
}

// lint reads host texts with the driver's own code: a short form, a
// trailing blank and a name give the address the driver connects; a name
// that does not resolve fails the driver's whole start, so it is an error.
TEST(EtlanOptions, LintReadsHostTextsAsTheDriverDoes) {
    const StationLint lint = LintStations("PC-stn: 99\n"
                                          "01 \"127.1\" \"9094\"\n"
                                          "02 \"127.0.0.1 \" \"9095\"\n"
                                          "03 \"localhost\" \" 9096 \"\n"
                                          "04 \"127.0.0.4\" \"9097\"\n"
                                          "05 \"etlan-nohost-zz\" \"9098\"\n");
    const std::string unresolved = "station 5: host name \"etlan-nohost-zz\" cannot be resolved: the driver's start "
                                   "fails (ColdStart result 2) and no station connects";
    std::vector<std::tuple<int, bool, std::string>> said;
    for (const auto& p : lint.problems) said.emplace_back(p.line, p.error, p.text);
    EXPECT_EQ(said, (std::vector<std::tuple<int, bool, std::string>>{{6, true, unresolved}}));
    EXPECT_EQ(lint.defined, (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(lint.address, (std::map<int, std::string>{
                                {1, "127.0.0.1:9094"}, {2, "127.0.0.1:9095"}, {3, "127.0.0.1:9096"}, {4, "127.0.0.4:9097"}}));
    EXPECT_EQ(lint.hostText, (std::map<int, std::string>{{1, "127.1"}, {2, "127.0.0.1 "}, {3, "localhost"}}));
    EXPECT_EQ(lint.usable, (std::map<int, bool>{{1, true}, {2, true}, {3, true}, {4, true}}));
    EXPECT_EQ(MissingStationReason(lint, 5), "line 6: " + unresolved);
}

// What a tired engineer types, each named with its line, what the driver
// does with it and the fix: a byte order mark, an indented station line
// (a comment to the driver), a tab before a comment or a station (no
// comment: a station number above 64), a port without its quotes (the
// driver keeps the host text and tries to connect it, or keeps an earlier
// line's address without its options), a port that is neither a number
// nor a known service, and a PC number cut by the ninth character.
TEST(EtlanOptions, LintNamesWhatATiredEngineerTypes) {
    struct Said {
        int line;
        bool error;
        int station;
        std::vector<std::string> texts;  // every one in the message
    };
    const auto check = [](const StationLint& lint, const std::vector<Said>& expected) {
        ASSERT_EQ(lint.problems.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const StationProblem& p = lint.problems[i];
            const Said& e = expected[i];
            EXPECT_EQ(std::make_tuple(p.line, p.error, p.station), std::make_tuple(e.line, e.error, e.station)) << p.text;
            for (const auto& t : e.texts) EXPECT_NE(p.text.find(t), std::string::npos) << t << "\n" << p.text;
        }
    };
    const std::string fix = "(remove what stands before \"";
    StationLint lint = LintStations("\xEF\xBB\xBF" "ETLANPC 10\n"
                                    " 01 \"127.0.0.1\" \"9094\"\n"
                                    "\t; station 2 is off\n"
                                    "\t03 \"127.0.0.1\" \"9096\"\n"
                                    "04 \"127.0.0.1\" 9097\n"
                                    "05 \"127.0.0.1\" \"9098\" timeout=500\n"
                                    "05 \"127.0.0.2\" 9099\n"
                                    "06 \"127.0.0.1\" \"ninety\"\n"
                                    "07 \"127.0.0.1\" \"65536\"\n"
                                    "08 \"127.0.0.1\" \"9100\"\n"
                                    "  08 \"127.0.0.1\" \"9101\"\n"
                                    "10 \"127.0.0.1\" \"9102\"\n");
    check(lint, {
        {1, false, -1, {"UTF-8 byte order mark", "the PC number it reads from the ninth character is none, not 10",
                        "(save the file as UTF-8 without byte order mark"}},
        {2, true, 1, {"station 1: the line starts with a blank, so the driver takes it as a comment line, and station 1 is not defined",
                      fix + "01\" to define it here"}},
        {3, false, -1, {"starts with a tab, which does not make a comment line", "station num. too big in line: 2",
                        "(start a comment line with ';')"}},
        {4, true, 3, {"station 3: the line starts with a tab", "station num. too big in line: 3", "station 3 is not defined",
                      fix + "03\""}},
        {5, true, 4, {"station 4: the port has no double quotes", "does not count station 4",
                      "tries to connect it at the start (\"ConnectSocket() Fail on station 4\")",
                      "(write \"9097\", the port between double quotes)"}},
        {7, true, 5, {"the driver keeps the address and port of line 6 (127.0.0.1:9098) but none of its options",
                      "(write \"9099\""}},
        {8, true, 6, {"port \"ninety\" is no port number 1-65535 nor a TCP service that this machine knows",
                      "the driver does not define station 6", "(write the unit's TCP port"}},
        {9, true, 7, {"port \"65536\" is no port number 1-65535: the driver does not define station 7"}},
        {11, false, 8, {"station 8: the line starts with a blank", "station 8 is defined by line 10", fix + "08\""}},
    });
    // Without the byte order mark's PC number 10, station 10 is taken.
    EXPECT_EQ(lint.pcNumber, -1);
    EXPECT_EQ(lint.defined, (std::set<int>{5, 8, 10}));
    EXPECT_EQ(lint.options.count(5), 0u);
    EXPECT_EQ(MissingStationReason(lint, 1).rfind("line 2: station 1: the line starts with a blank", 0), 0u);

    lint = LintStations("ETLANPC10\n01 \"127.0.0.1\" \"9094\"\n");
    check(lint, {{1, false, -1, {"header \"ETLANPC10\": the driver reads the PC number from the ninth character on, "
                                 "so it takes 0, not 10 (write \"ETLANPC 10\")"}}});
    EXPECT_EQ(lint.pcNumber, 0);
    lint = LintStations("\xEF\xBB\xBF" "01 \"127.0.0.1\" \"9094\"\n02 \"127.0.0.1\" \"9095\"\n");
    check(lint, {{1, false, -1, {"UTF-8 byte order mark"}},
                 {1, true, 1, {"no header line: the driver takes this first line as the header, so station 1 is not defined"}}});
    EXPECT_EQ(lint.defined, (std::set<int>{2}));
}

// Values as --format shows them to people and writes them in CSV and JSON
// records: signed where asked, BCD only where every digit is one, a float
// joined from two words in either order.
TEST(EtlanOptions, ValueFormatsForPeopleAndForRecords) {
    struct Row {
        std::uint32_t value;
        int bits;
        ValueFormat format;
        const char* shown;
        const char* csv;
        const char* json;
    };
    using F = ValueFormat;
    const Row rows[] = {
        {0xFFFE, 16, F::kDefault, "65534 (0xFFFE, signed -2)", "65534", "65534"},
        {0xFFFE, 16, F::kInt, "-2", "-2", "-2"},
        {0xFFFE, 16, F::kUint, "65534", "65534", "65534"},
        {0x0000FFFE, 32, F::kInt, "65534", "65534", "65534"},
        {0xFFFFFFFE, 32, F::kInt, "-2", "-2", "-2"},
        {0x04D2, 16, F::kHex, "0x04D2", "0x04D2", "\"0x04D2\""},
        {0x12345678, 32, F::kHex, "0x12345678", "0x12345678", "\"0x12345678\""},
        {0x1234, 16, F::kBcd, "1234", "1234", "1234"},
        {0x0000, 16, F::kBcd, "0", "0", "0"},
        {0x00098765, 32, F::kBcd, "98765", "98765", "98765"},
        {0x12A4, 16, F::kBcd, "0x12A4 (no BCD)", "", "null"},
        {0x3FC00000, 32, F::kFloat, "1.5", "1.5", "1.5"},
        {0xC0490FDB, 32, F::kFloat, "-3.1415927", "-3.1415927", "-3.1415927"},
        {0x00000000, 32, F::kFloat, "0", "0", "0"},
        {0x7FC00000, 32, F::kFloat, "nan", "nan", "null"},
        {0xFF800000, 32, F::kFloat, "-inf", "-inf", "null"},
        {1, 1, F::kHex, "1", "1", "1"},
        {0, 1, F::kFloat, "0", "0", "0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ShowValue(row.value, row.bits, row.format), row.shown) << std::hex << row.value;
        EXPECT_EQ(RecordValue(row.value, row.bits, row.format, false), row.csv) << std::hex << row.value;
        EXPECT_EQ(RecordValue(row.value, row.bits, row.format, true), row.json) << std::hex << row.value;
    }
    EXPECT_EQ(ShowValue(0xFFFE, 16, F::kDefault, true), "65534");  // the live line's short form
    // The word at the lower address is the low word, or the high word.
    EXPECT_EQ(JoinWords(0x0000, 0x3FC0, false), 0x3FC00000u);
    EXPECT_EQ(JoinWords(0x3FC0, 0x0000, true), 0x3FC00000u);
    EXPECT_EQ(ValueFormatOf("bcd"), F::kBcd);
    EXPECT_EQ(ValueFormatOf(""), F::kDefault);
}

// The live line fits the terminal: hex dropped first, then cut before the
// counts; never into the last column.
TEST(EtlanOptions, TheLiveLineFitsTheTerminal) {
    const std::vector<std::string> full{"  01D00100=1234 (0x04D2)", "  01R00105=1", "  02D00200_D=305419896 (0x12345678)"};
    const std::vector<std::string> brief{"  01D00100=1234", "  01R00105=1", "  02D00200_D=305419896"};
    const std::string tail = "   | good 21, failed 0";
    EXPECT_EQ(FitLine("#7", full, brief, tail, 0), "#7" + full[0] + full[1] + full[2] + tail);
    EXPECT_EQ(FitLine("#7", full, brief, tail, 120), "#7" + full[0] + full[1] + full[2] + tail);
    const std::string fitted = FitLine("#7", full, brief, tail, 80);
    EXPECT_EQ(fitted, "#7  01D00100=1234  01R00105=1  02D00200_D=305419896   | good 21, failed 0");
    EXPECT_LT(fitted.size(), 80u);
    EXPECT_EQ(FitLine("#7", full, brief, tail, 50), "#7  01D00100=1234  01R00...   | good 21, failed 0");
    EXPECT_EQ(FitLine("#7", full, brief, tail, 20).size(), 19u);
}

// The driver's log lines about a station, in the words a poll shows.
TEST(EtlanOptions, DriverLogLinesInPlainWords) {
    struct Row {
        const char* line;
        int station;  // -1: the line says nothing of a station's state
        const char* words;
        bool recovered;
    };
    const Row rows[] = {
        {"ZavUR: station 3 fails: reconnect failed rc = 257 (connection refused); resting 5 s", 3, "connection refused",
         false},
        {"ZavUR: station 3 fails: no answer within 1000 ms to %03#RDD0010000100**; resting 5 s", 3,
         "no reply within 1000 ms", false},
        {"ZavUR: station 1 fails: connection closed by the PLC at %01#RDD0010000100**; resting 5 s, then a request "
         "connects again",
         1, "closed by the PLC", false},
        {"ZavUR: station 1 fails: connection reset by the PLC at %01#RDD0010000100**; the next request connects again", 1,
         "reset by the PLC", false},
        {"ZavUR: station 2 fails: connection lost rc = 32 at %02#RDD0010000100**; resting 5 s", 2,
         "connection lost (error 32)", false},
        {"ZavUR: station 1 fails: PLC error 61 (data error: address or value out of range) to %01#RDD4000040000**", 1,
         "PLC error 61 (data error: address or value out of range)", false},
        {"ZavUR: station 1 fails: another station's number in the answer to %01#RDD0010000100**", 1,
         "another station's number in the answer", false},
        {"ZavUR: station 4 fails: not connected [3 earlier line(s) about station 4 not logged]", 4, "not connected", false},
        {"ZavUR: WarmStart() Fail station 5 ConnectSocket() rc = 257 (no connection within 1000 ms)", 5,
         "no connection within 1000 ms", false},
        {"ZavUR: InitConnections(): ConnectSocket() Fail on station 6 rc = 257 (connected to itself: nothing listens on "
         "the port)",
         6, "nothing listens on the port", false},
        {"ZavUR: InitConnections(): ConnectSocket() Fail on station 7 rc = 10061", 7, "cannot connect (error 10061)", false},
        {"ZavUR: station 8 host text \"127.0.0.300\" is no usable IPv4 address", 8,
         "host text \"127.0.0.300\" is no usable IPv4 address", false},
        {"ZavUR: station 2 answers again after 4 failed exchanges", 2, "", true},
        {"ZavUR: WarmStart() Pass station 3 ConnectSocket() rc = 0", -1, "", false},
        {"VpiMatsushita01: Station num:  1   IPAddr: 127.0.0.1   Port: 9094", -1, "", false},
    };
    for (const Row& row : rows) {
        StationNews news;
        EXPECT_EQ(ReadStationNews(row.line, &news), row.station >= 0) << row.line;
        EXPECT_EQ(news.station, row.station) << row.line;
        EXPECT_EQ(news.words, row.words) << row.line;
        EXPECT_EQ(news.recovered, row.recovered) << row.line;
    }
}

// The station files etlan writes for the driver: one for --host, and any
// file's station lines with --timeout's time-out, read back as the driver
// reads them.
TEST(EtlanOptions, StationFilesWrittenForHostAndTimeout) {
    const std::string host = HostStationFile("127.0.0.1:9094", {1, 12});
    EXPECT_EQ(host, "PC-stn: 65\n01 \"127.0.0.1\" \"9094\"\n12 \"127.0.0.1\" \"9094\"\n");
    EXPECT_EQ(LintStations(WithTimeout(host, 300)).options,
              (std::map<int, std::string>{{1, "timeout=300 ms"}, {12, "timeout=300 ms"}}));

    const std::string file = "ETLANPC 10 \"a\" \"b\"\n"
                             "; 09 \"127.0.0.9\" \"9094\"\n"
                             " 08 \"127.0.0.8\" \"9094\"\n"
                             "01 \"127.0.0.1\" \"9094\"\n"
                             "02 \"127.0.0.1\" \"9095\" rest=10 timeout=2000  station-field=decimal ; slow, timeout=9\r\n"
                             "03 127.0.0.1 9096\n"
                             "\n"
                             "04 \"127.0.0.1\" \"9097\"";
    const std::string timed = WithTimeout(file, 250);
    EXPECT_EQ(timed, "ETLANPC 10 \"a\" \"b\"\n"
                     "; 09 \"127.0.0.9\" \"9094\"\n"
                     " 08 \"127.0.0.8\" \"9094\"\n"
                     "01 \"127.0.0.1\" \"9094\" timeout=250\n"
                     "02 \"127.0.0.1\" \"9095\" timeout=250 rest=10 station-field=decimal ; slow, timeout=9\r\n"
                     "03 127.0.0.1 9096\n"
                     "\n"
                     "04 \"127.0.0.1\" \"9097\" timeout=250");
    const StationLint lint = LintStations(timed);
    EXPECT_EQ(lint.defined, (std::set<int>{1, 2, 4}));
    EXPECT_EQ(lint.options.at(2), "station-field=decimal timeout=250 ms rest=10 s");
    // A line the driver would read in two pieces once longer is left alone.
    const std::string longLine = "05 \"127.0.0.1\" \"9098\" ;" + std::string(230, 'x') + "\n";
    EXPECT_EQ(WithTimeout("PC-stn: 65\n" + longLine, 250), "PC-stn: 65\n" + longLine);
}

}  // namespace
}  // namespace etl::etlan
