// Smoke tests of the etlan executable: it runs as a separate process next
// to this test, loads the built driver library and talks to a simulator
// that the test runs in-process on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/loader/library_loader.h"
#include "tools/sim/simulator.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#endif

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    double seconds = 0;
    bool Has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string EtlanPath() {
#if defined(_WIN32)
    return etl::plat::ExecutableDirectory() + "etlan.exe";
#else
    return etl::plat::ExecutableDirectory() + "etlan";
#endif
}

// The command's output, standard error with it unless the command sends
// it elsewhere itself (mergeErrors false).
Outcome Shell(std::string command, bool mergeErrors = true) {
    Outcome r;
    const auto begin = std::chrono::steady_clock::now();
#if defined(_WIN32)
    // cmd /c strips one pair of outer quotes.
    command = "\"" + command + (mergeErrors ? " 2>&1\"" : "\"");
    FILE* pipe = _popen(command.c_str(), "r");
#else
    command += mergeErrors ? " 2>&1 </dev/null" : " </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
#if defined(_WIN32)
    r.status = _pclose(pipe);
#else
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return r;
}

Outcome Etlan(const std::string& args) {
    Outcome r = Shell(Quoted(EtlanPath()) + " " + args);
    if (r.status != 0) std::printf("etlan %s -> %d\n%s", args.c_str(), r.status, r.out.c_str());
    return r;
}

std::string FileText(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

// A station file line: number, "host", "port".
std::string StationLine(int station, unsigned port) {
    char line[64];
    std::snprintf(line, sizeof line, "%02d \"127.0.0.1\" \"%u\"\n", station, port);
    return line;
}

// A simulator with two answering stations and a station file for them;
// station 3 is listed but refuses connections, station 4 never answers.
class EtlanSim : public ::testing::Test {
protected:
    void SetUp() override {
        for (int st = 1; st <= 4; ++st) ASSERT_GT(sim_.AddStation(st), 0);
        etl::sim::Faults refuse;
        refuse.refuseConnections = true;
        sim_.SetFaults(3, refuse);
        etl::sim::Faults silent;
        silent.dropAnswers = -1;
        sim_.SetFaults(4, silent);
        ASSERT_TRUE(sim_.Start());
        std::string file = "PC-stn: 65\n";
        for (int st = 1; st <= 4; ++st) {
            file += StationLine(st, sim_.Port(st));
        }
        stations_ = " -s " + Quoted(dir_.Write("stations.int", file)) + " ";
    }

    etl::test::TempDir dir_;
    etl::sim::Simulator sim_;
    std::string stations_;
};

TEST(EtlanTool, InfoShowsIdentityBannerAndContextSize) {
    const Outcome r = Etlan("info");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("Vendor         : Matsushita"));
    EXPECT_TRUE(r.Has("┌──────────────────────────────────────────────┐"));
    EXPECT_TRUE(r.Has("│ TCP/IP protocol for Matsushita ET-LAN SYSTEM │"));
    EXPECT_TRUE(r.Has("└──────────────────────────────────────────────┘"));
    EXPECT_TRUE(r.Has("Banner         : 188 bytes"));
    EXPECT_TRUE(r.Has("infoValueC     : 8323105 (0x007F0021)"));
#if defined(_WIN32) && !defined(_WIN64)
    EXPECT_TRUE(r.Has("Context size   : 6808 bytes (0x1A98)"));
#else
    EXPECT_TRUE(r.Has("Context size   : "));
#endif
}

TEST(EtlanTool, CheckShowsEveryFieldOrWhyTheTextIsInvalid) {
    Outcome r = Etlan("check 01D00100");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("result 0, valid"));
    EXPECT_TRUE(r.Has("plcNumber     : 1\n"));
    EXPECT_TRUE(r.Has("memoryLetter  : 'D' (68)"));
    EXPECT_TRUE(r.Has("addressNumber : 100\n"));
    EXPECT_TRUE(r.Has("bitNumber     : 255 (none)"));
    EXPECT_TRUE(r.Has("bitSize       : 16\n"));

    r = Etlan("check 02X0001A --type 6");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("bitNumber     : 10\n"));
    EXPECT_TRUE(r.Has("bitSize       : 1\n"));

    // Code 4 upper-cases the text and takes the suffix as 32 bits.
    r = Etlan("check 01d00100_d --suffix");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("CheckAddressD (code 4)"));
    EXPECT_TRUE(r.Has("\"01D00100_D\""));
    EXPECT_TRUE(r.Has("bitSize       : 32\n"));

    struct Invalid {
        const char* args;
        const char* why;
    };
    const Invalid invalid[] = {
        {"check 65D00100", "PLC number 65 is above 64"},
        {"check 01#00100", "'#' at position 2 is not allowed"},
        {"check 01G00011 --type 3", "needs an even address"},
        {"check 01G00010 --type 0", "32-bit values only"},
        {"check 01D0010", "five address digits"},
        {"check 02X0001 --type 6", "a bit tag takes four address digits and a bit digit"},
        {"check 01D00100 --type 7", "data type 7 is refused"},
        {"check 01D00100 --count 28", "element count 28 is above 27"},
    };
    for (const Invalid& c : invalid) {
        r = Etlan(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_TRUE(r.Has("INVALID")) << c.args;
        EXPECT_TRUE(r.Has(c.why)) << c.args << "\n" << r.out;
    }
    // The driver's own log line is shown.
    r = Etlan("check 01#00100");
    EXPECT_TRUE(r.Has("log | MA: invalid chars in address")) << r.out;
}

TEST(EtlanTool, CommandLineErrorsHelpAndAMissingLibrary) {
    EXPECT_EQ(Etlan("--help").status, 0);
    for (const char* cmd : {"info", "check", "start", "read", "write", "poll", "browse", "bench", "lint", "warmstart", "scan"}) {
        const Outcome r = Etlan(std::string(cmd) + " --help");
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_TRUE(r.Has("Usage: etlan " + std::string(cmd))) << cmd;
    }
    EXPECT_TRUE(Etlan("start --help").Has("zavURnn.int"));
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " frobnicate").status, 2);
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " read").status, 2);
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " check 01D00100 --count x").status, 2);
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " write 01D00100 5 --count 3").status, 2);
    const Outcome r = Shell(Quoted(EtlanPath()) + " info --library no-such-driver-library");
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.Has("cannot load the driver library"));
}

TEST_F(EtlanSim, StartReportsStationsAndConnections) {
    Outcome r = Etlan("start" + stations_);
    EXPECT_EQ(r.status, 1);  // station 3 did not connect
    EXPECT_TRUE(r.Has("ColdStart      : result 0")) << r.out;
    EXPECT_TRUE(r.Has("Stations       : 4 defined (1, 2, 3, 4), 3 connected, 1 failed (3)")) << r.out;
    EXPECT_TRUE(r.Has("log | ZavUR: InitConnections(): ConnectSocket() Fail on station 3")) << r.out;
    EXPECT_TRUE(r.Has("EndVpi         : result 0")) << r.out;

    // A station file whose every station connects; -d names the file.
    const std::string one = dir_.Write(
        "one.int", "PC-stn: 65\n; comment\n" + StationLine(1, sim_.Port(1)));
    r = Etlan("start -d 7 -s " + Quoted(one));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("(as zavUR07.int)"));
    EXPECT_TRUE(r.Has("zavUR07.int defines 1 stations"));
    EXPECT_TRUE(r.Has("1 defined (1), 1 connected, 0 failed"));

    EXPECT_EQ(Etlan("start -s no-such-file.int").status, 3);
}

TEST_F(EtlanSim, ReadsShowWordsDoubleWordsBitsAndBlocks) {
    ASSERT_TRUE(sim_.SetFromText("D100=1234"));
    ASSERT_TRUE(sim_.SetFromText("D200=0x12345678"));
    ASSERT_TRUE(sim_.SetFromText("R10=0x0020"));
    ASSERT_TRUE(sim_.SetFromText("D300=0xFFFF"));
    ASSERT_TRUE(sim_.SetFromText("D301=22"));
    ASSERT_TRUE(sim_.SetFromText("D400=100000"));
    ASSERT_TRUE(sim_.SetFromText("D402=0x80000000"));

    Outcome r = Etlan("read 01D00100" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("01D00100 (PLC 1, data register D 100, 16-bit): 1234 (0x04D2)")) << r.out;

    r = Etlan("read 02D00200 -t 3" + stations_);
    EXPECT_TRUE(r.Has("32-bit): 305419896 (0x12345678)")) << r.out;
    r = Etlan("read 01D00200_D" + stations_);  // the suffix makes it 32 bits
    EXPECT_TRUE(r.Has("32-bit): 305419896 (0x12345678)")) << r.out;
    r = Etlan("read 01D00200_D -t 0" + stations_);  // whatever the data type
    EXPECT_TRUE(r.Has("32-bit): 305419896 (0x12345678)")) << r.out;

    r = Etlan("read 01R00105" + stations_);
    EXPECT_TRUE(r.Has("bit 5, bit): 1")) << r.out;
    r = Etlan("read 01R00104 -q" + stations_);
    EXPECT_EQ(r.out, "0\n");

    r = Etlan("read 01D00300 -c 2" + stations_);
    EXPECT_TRUE(r.Has("[0] D300: 65535 (0xFFFF, signed -1)")) << r.out;
    EXPECT_TRUE(r.Has("[1] D301: 22 (0x0016)")) << r.out;
    r = Etlan("read 01D00400 -c 2 -t 3 -v" + stations_);
    EXPECT_TRUE(r.Has("[0] D400: 100000 (0x000186A0)")) << r.out;
    EXPECT_TRUE(r.Has("[1] D402: 2147483648 (0x80000000, signed -2147483648)")) << r.out;
    EXPECT_TRUE(r.Has("value buffer: A0 86 01 00 00 00 00 80")) << r.out;
    EXPECT_TRUE(r.Has("ColdStart: result 0")) << r.out;
}

TEST_F(EtlanSim, WritesReachThePlc) {
    EXPECT_EQ(Etlan("write 01D00500 -2" + stations_).status, 0);
    EXPECT_EQ(sim_.Word('D', 500), 0xFFFE);
    EXPECT_EQ(Etlan("write 02D00600_D 0x12345678" + stations_).status, 0);
    EXPECT_EQ(sim_.Word('D', 600), 0x5678);
    EXPECT_EQ(sim_.Word('D', 601), 0x1234);
    const Outcome r = Etlan("write 01R00203 1" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("wrote 1")) << r.out;
    EXPECT_EQ(sim_.Word('R', 20), 0x0008);
    // A value that does not fit is refused before anything is sent.
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " write 01D00500 70000" + stations_).status, 2);
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " write 01R00203 2" + stations_).status, 2);
    EXPECT_EQ(sim_.Word('D', 500), 0xFFFE);
}

TEST_F(EtlanSim, FailuresAreExplained) {
    Outcome r = Etlan("write 01X00010 1" + stations_);  // inputs cannot be written
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("failed, result 1: refused")) << r.out;
    EXPECT_TRUE(r.Has("log | ZOVUZ: SetMewtocolCmd() Write to memory type X not allowed")) << r.out;

    r = Etlan("read 05D00100" + stations_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("result 2: no answer")) << r.out;
    EXPECT_TRUE(r.Has("station 5 is not defined in the station file")) << r.out;

    r = Etlan("read 03D00100" + stations_);
    EXPECT_TRUE(r.Has("station 3 did not connect at the start")) << r.out;

    r = Etlan("read 04D00100 -o" + stations_);  // connected, never answers
    EXPECT_TRUE(r.Has("result 2: no answer")) << r.out;
    EXPECT_TRUE(r.Has(" ms]")) << r.out;
    EXPECT_LT(r.seconds, 8.0);

    r = Etlan("read 01X0001 -t 6" + stations_);  // invalid: nothing is started
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("invalid address")) << r.out;
    EXPECT_FALSE(r.Has("ColdStart")) << r.out;
}

TEST_F(EtlanSim, PollCountsGoodAndFailedReads) {
    ASSERT_TRUE(sim_.SetFromText("D100=7"));
    Outcome r = Etlan("poll 01D00100 03D00100 -l 20 -n 3" + stations_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("01D00100=7 (0x0007)")) << r.out;
    EXPECT_TRUE(r.Has("03D00100=-- (2: connection refused)")) << r.out;
    EXPECT_TRUE(r.Has("6 requests transmitted, 3 received, 3 errors, 50.0% request loss")) << r.out;

    r = Etlan("poll 01D00100 02R00105 -1 -q" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "7  0\n");
}

// Options as CLI11 reads them: clustered short
// options, values attached or after '=', anywhere on the line.
TEST_F(EtlanSim, ConventionalOptions) {
    ASSERT_TRUE(sim_.SetFromText("D300=0xFFFF"));
    ASSERT_TRUE(sim_.SetFromText("D301=22"));
    const std::string file = stations_.substr(4, stations_.size() - 5);  // the quoted path
    EXPECT_EQ(Etlan("read 01D00300 -qc2" + stations_).out, "65535\n22\n");
    EXPECT_EQ(Etlan("--count=2 -q --stations=" + file + " read 01D00300").out, "65535\n22\n");
    EXPECT_EQ(Etlan("poll 01D00300 -1q -d1 -s" + file).out, "65535\n");
    EXPECT_EQ(Etlan("write 01D00302 -7 -qs " + file).status, 0);
    EXPECT_EQ(sim_.Word('D', 302), 0xFFF9);
    EXPECT_TRUE(Etlan("-V").Has("etlan ")) ;
    Outcome r = Shell(Quoted(EtlanPath()) + " read 01D00300 -x");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.Has("unknown option -x")) << r.out;
    r = Shell(Quoted(EtlanPath()) + " read 01D00300 --frobnicate");
    EXPECT_TRUE(r.Has("unknown option --frobnicate")) << r.out;
    r = Shell(Quoted(EtlanPath()) + " read 01D00300 -s");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.Has("option -s needs a value")) << r.out;
}

// The faults a field engineer met: a simulator with station 1 answering,
// station 5 that never answers, station 6 that answers after 30 ms and
// station 7 that answers but no tag of the tests names.
class EtlanFaults : public ::testing::Test {
protected:
    void SetUp() override {
        for (int st : {1, 5, 6, 7}) ASSERT_GT(sim_.AddStation(st), 0);
        etl::sim::Faults silent;
        silent.dropAnswers = -1;
        sim_.SetFaults(5, silent);
        etl::sim::Faults late;
        late.delayMs = 30;
        sim_.SetFaults(6, late);
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(sim_.SetFromText("D100=7"));
        std::string file = "PC-stn: 10\n";
        for (int st : {1, 5, 6, 7}) file += StationLine(st, sim_.Port(st));
        stations_ = " -s " + Quoted(dir_.Write("stations.int", file)) + " ";
        tmp_ = dir_.Path() + "/tmp";
        std::filesystem::create_directories(tmp_);
    }

    // etlan's temporary files and directories left in tmp_.
    int Leftovers() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(tmp_)) n += e.path().filename().string().rfind("etlan-", 0) == 0;
        return n;
    }

    etl::test::TempDir dir_;
    etl::sim::Simulator sim_;
    std::string stations_;
    std::string tmp_;
};

#if !defined(_WIN32)
// Started with its standard streams closed, etlan's text must not go into
// the first socket the driver opens.
TEST_F(EtlanFaults, ClosedStandardStreamsKeepTextOutOfThePlcConnection) {
    const Outcome r = Shell("(" + Quoted(EtlanPath()) + " poll 01D00100 -n 3 -l 10" + stations_ +
                            " >&- 2>&- <&-); echo status=$?");
    EXPECT_TRUE(r.Has("status=0")) << r.out;
    EXPECT_EQ(sim_.Requests(1), 3);
}

// A command that the shell runs in the background with its output in a
// file, so that a test can wait for what it needs (a line of the output, a
// request at the simulator) before it signals the process.
class Background {
public:
    Background(const std::string& command, const std::string& dir)
        : out_(dir + "/background.txt"), pidFile_(dir + "/background.pid") {
        std::filesystem::remove(out_);
        std::filesystem::remove(pidFile_);
        shell_ = std::thread([this, command] {
            result_ = Shell(command + " >" + Quoted(out_) + " 2>&1 & echo $! >" + Quoted(pidFile_) +
                            "; wait $!; echo status=$?");
            ended_ = true;
        });
    }
    ~Background() {
        if (!shell_.joinable()) return;
        if (Pid() > 0) kill(pid_, SIGKILL);  // a test that stopped half-way
        shell_.join();
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    std::string Output() const { return FileText(out_); }
    bool Ended() const { return ended_; }

    // Sends the signal; the first one starts the clock of Finish.
    bool Signal(int number) {
        if (Pid() <= 0) return false;
        if (!signalled_) signalled_ = std::chrono::steady_clock::now();
        return kill(pid_, number) == 0;
    }
    // True once the process has taken the signal: it is pending no more.
    bool Taken(int number) const {
        std::FILE* f = std::fopen(("/proc/" + std::to_string(pid_) + "/status").c_str(), "r");
        if (f == nullptr) return true;
        unsigned long long pending = 0, mask = 0;
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "SigPnd: %llx", &mask) == 1 || std::sscanf(line, "ShdPnd: %llx", &mask) == 1) {
                pending |= mask;
            }
        }
        std::fclose(f);
        return (pending & (1ULL << (number - 1))) == 0;
    }
    // The output and "status=N" once the process has ended; seconds counts
    // from the first signal.
    Outcome Finish() {
        shell_.join();
        Outcome r = result_;
        r.out = Output() + r.out;
        if (signalled_) {
            r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - *signalled_).count();
        }
        return r;
    }

private:
    long Pid() {
        if (pid_ <= 0) {
            etl::test::WaitUntil([&] {
                const std::string text = FileText(pidFile_);
                return (!text.empty() && text.back() == '\n' && std::sscanf(text.c_str(), "%ld", &pid_) == 1) || ended_;
            });
        }
        return pid_;
    }

    std::string out_;
    std::string pidFile_;
    std::thread shell_;
    std::atomic<bool> ended_{false};
    Outcome result_;
    long pid_ = 0;
    std::optional<std::chrono::steady_clock::time_point> signalled_;
};

// Ctrl-C, SIGTERM and SIGHUP (an SSH session that dropped): the
// statistics and 130; a second Ctrl-C during a read that never gets its
// answer ends etlan at once; no temporary file stays behind. Each signal
// waits for the poll to be where the test wants it, however long etlan
// took to start.
TEST_F(EtlanFaults, StopSignalsEndAPollAtOnceAndLeaveNoTemporaryFile) {
    const std::string poll = "TMPDIR=" + Quoted(tmp_) + " " + Quoted(EtlanPath()) + " poll" + stations_;
    Outcome r;
    for (const int signal : {SIGTERM, SIGHUP}) {
        {
            Background etlan(poll + "01D00100 -l 60000", dir_.Path());
            const bool polling = etl::test::WaitUntil([&] {
                return etlan.Output().find("#1  01D00100=7") != std::string::npos || etlan.Ended();
            });
            ASSERT_TRUE(polling && !etlan.Ended())
                << "the first round did not come:\n" << etlan.Output();
            ASSERT_TRUE(etlan.Signal(signal));
            r = etlan.Finish();
        }
        EXPECT_TRUE(r.Has("1 requests transmitted, 1 received")) << signal << "\n" << r.out;
        EXPECT_TRUE(r.Has("status=130")) << signal << "\n" << r.out;
        EXPECT_LT(r.seconds, 2.5);
        EXPECT_EQ(Leftovers(), 0) << signal;
    }

    {
        Background etlan(poll + "05D00100 05D00101 05D00102", dir_.Path());
        ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Requests(5) >= 1 || etlan.Ended(); }) && !etlan.Ended())
            << "the first read did not come:\n" << etlan.Output();
        ASSERT_TRUE(etlan.Signal(SIGINT));
        ASSERT_TRUE(etl::test::WaitUntil([&] { return etlan.Taken(SIGINT); }));
        ASSERT_TRUE(etlan.Signal(SIGINT));
        r = etlan.Finish();
    }
    EXPECT_TRUE(r.Has("status=130")) << r.out;
    EXPECT_LT(r.seconds, 2.5);  // the read alone would take 3 s with its retries
    EXPECT_EQ(Leftovers(), 0);
}

// A signal during a write of several values lets the write under way end,
// reported in the file the output goes to, and tells how many were
// written; a second one ends etlan at once and names the write it left
// unfinished.
TEST_F(EtlanFaults, AStoppedWriteTellsWhatItWrote) {
    etl::sim::Faults slow;
    slow.delayMs = 400;
    sim_.SetFaults(7, slow);
    const std::string write = Quoted(EtlanPath()) + " write" + stations_;
    Outcome r;
    {
        Background etlan(write + "07D00300 1 2 3 4 5 6", dir_.Path());
        ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Requests(7) >= 2 || etlan.Ended(); }) && !etlan.Ended())
            << "the second write did not come:\n" << etlan.Output();
        ASSERT_TRUE(etlan.Signal(SIGTERM));
        r = etlan.Finish();
    }
    EXPECT_TRUE(r.Has("status=130")) << r.out;
    unsigned long written = 0, of = 0;
    const auto stopped = r.out.find("etlan: stopped: ");
    ASSERT_NE(stopped, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + stopped, "etlan: stopped: %lu of %lu values written\n", &written, &of), 2) << r.out;
    EXPECT_EQ(of, 6u);
    EXPECT_GE(written, 2u);
    EXPECT_LT(written, 6u);
    for (unsigned i = 0; i < 6; ++i) {
        const std::string line = "07D0030" + std::to_string(i) + " (PLC 7, data register D 30" + std::to_string(i) +
                                 ", 16-bit): wrote " + std::to_string(i + 1) + " (";
        EXPECT_EQ(r.Has(line), i < written) << line << "\n" << r.out;
        EXPECT_EQ(sim_.Word('D', 300 + static_cast<int>(i)), i < written ? i + 1 : 0) << i;
    }

    {
        Background etlan(write + "05D00300 1 2", dir_.Path());
        ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Requests(5) >= 1 || etlan.Ended(); }) && !etlan.Ended())
            << "the first write did not come:\n" << etlan.Output();
        ASSERT_TRUE(etlan.Signal(SIGINT));
        ASSERT_TRUE(etl::test::WaitUntil([&] { return etlan.Taken(SIGINT); }));
        ASSERT_TRUE(etlan.Signal(SIGINT));
        r = etlan.Finish();
    }
    EXPECT_TRUE(r.Has("etlan: stopped: 0 of 2 values written, the write of 05D00300 unfinished (the PLC may have taken it)\n"))
        << r.out;
    EXPECT_TRUE(r.Has("status=130")) << r.out;
}

// The driver's log: a file that is not a regular one (read back, /dev/zero
// and /dev/full have no end), and one that takes no line (a full
// filesystem; here a file size limit of 0), stop the command with status 3
// and the reason; no station is said to be missing on their account.
TEST_F(EtlanFaults, ALogThatCannotBeWrittenStopsTheCommand) {
    const std::string etlan = Quoted(EtlanPath());
    for (const std::string& command : {etlan + " read 01D00100 --log /dev/full" + stations_,
                                       "QANPRO_LOG=/dev/zero " + etlan + " read 01D00100" + stations_}) {
        Background run(command, dir_.Path());
        ASSERT_TRUE(etl::test::WaitUntil([&] { return run.Ended(); })) << command << "\n" << run.Output();
        const Outcome r = run.Finish();
        EXPECT_TRUE(r.Has("status=3")) << r.out;
        EXPECT_TRUE(r.Has(" is not a regular file: etlan reads the driver's lines back from it")) << r.out;
    }

    // Valgrind's own files cannot take the size limit.
    if (std::getenv("ETL_UNDER_VALGRIND") != nullptr) return;
    dir_.Write("zavUR01.int", "PC-stn: 10\n" + StationLine(1, sim_.Port(1)));  // used in place: no copy written
    const std::string log = dir_.Write("driver.log", "");
    const std::string full = "(trap '' XFSZ; ulimit -f 0; TMPDIR=" + Quoted(tmp_) + " " + etlan + " ";
    const std::string own = "etlan: cannot write its log " + tmp_ + "/etlan-log-";
    const std::string given = "etlan: the driver's lines did not reach its log \"" + log + "\" (File too large)";
    const std::pair<std::string, std::string> cases[] = {
        // scan writes a station file per station first: that fails first.
        {"start", own}, {"scan", own}, {"start --log " + Quoted(log), given}, {"scan --log " + Quoted(log), "etlan: cannot write "}};
    for (const auto& [args, why] : cases) {
        const Outcome r = Shell(full + args + ")");
        EXPECT_EQ(r.status, 3) << args << "\n" << r.out;
        EXPECT_TRUE(r.Has(why)) << args << "\n" << r.out;
        EXPECT_FALSE(r.Has("defined")) << args << "\n" << r.out;  // "0 defined", "not defined in the station file"
    }
    EXPECT_EQ(FileText(log), "");
    EXPECT_EQ(Leftovers(), 0);
}

// Results on standard output, diagnoses on standard error; output that
// cannot be written fails the run.
TEST_F(EtlanFaults, ResultsAndDiagnosesGoToTheirOwnStreams) {
    Outcome r = Shell("(" + Quoted(EtlanPath() ) + " 2>/dev/null); echo status=$?");
    EXPECT_EQ(r.out, "status=2\n");
    EXPECT_TRUE(Shell(Quoted(EtlanPath())).Has("usage: etlan"));
    for (const char* args : {"read 01#00100", "write 01X00010 1", "read 09D00100"}) {
        r = Shell("(" + Quoted(EtlanPath()) + " " + args + stations_ + " 2>/dev/null); echo status=$?");
        EXPECT_EQ(r.out, "status=1\n") << args;
    }
    r = Shell("(" + Quoted(EtlanPath()) + " info >/dev/full) 2>&1; echo status=$?");
    EXPECT_TRUE(r.Has("status=1")) << r.out;
    EXPECT_TRUE(r.Has("cannot write to standard output")) << r.out;

    // A reader that goes away ends a poll with an error, not by a signal,
    // and the temporary files go too.
    r = Shell("bash -c " + Quoted("TMPDIR=" + tmp_ + " '" + EtlanPath() + "' poll 01D00100 -l 10 -q" + stations_ +
                                  " | head -n 1; echo status=\\${PIPESTATUS[0]}"));
    EXPECT_TRUE(r.Has("status=1")) << r.out;
    EXPECT_EQ(Leftovers(), 0);

    r = Shell(Quoted(EtlanPath()) + " read 01D00100 -c 5000" + stations_);
    EXPECT_TRUE(r.Has("is above 1000 (one request takes at most 27 elements, 13 for memory code G;")) << r.out;
    // A poll splits a range as read does: 13 double words, then 1.
    r = Shell(Quoted(EtlanPath()) + " poll 01G00010 -c 14 -1" + stations_);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.Has("2 requests transmitted, 2 received")) << r.out;
}
#endif

// Rounds start on a fixed schedule; a round that runs over is counted.
TEST_F(EtlanFaults, PollRoundsKeepTheirInterval) {
    Outcome r = Etlan("poll 01D00100 -l 10 -n 51" + stations_);
    double seconds = 0;
    const auto at = r.out.find("51 rounds in ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "51 rounds in %lf s", &seconds), 1) << r.out;
    EXPECT_GE(seconds, 0.49);
    EXPECT_LT(seconds, 0.9);  // 50 waits in 20 ms steps took 1 s

    r = Etlan("poll 06D00100 -l 10 -n 4" + stations_);
    EXPECT_TRUE(r.Has("4 rounds in ")) << r.out;
    EXPECT_TRUE(r.Has(" s, 3 overran the interval")) << r.out;
}

// etlan lint names every mistake with its line; start fails on them, and a
// read names the real reason a station is missing.
TEST_F(EtlanFaults, StationFileMistakesAreNamedWithTheirLines) {
    const std::string bad = dir_.Write("bad.int",
                                       "PC-stn: 10\n"
                                       "; comment\n"
                                       "01 \"127.0.0.1\" \"9094\"\n"
                                       "00 \"127.0.0.1\" \"9094\"\n"
                                       "65 \"127.0.0.1\" \"9094\"\n"
                                       "10 \"127.0.0.1\" \"9094\"\n"
                                       "01 \"127.0.0.2\" \"9094\"\n"
                                       "02 127.0.0.1 9094\n"
                                       "03 \"127.000.000.001.5\" \"9094\"\n"
                                       "04 \"plc-four\" \"9094\"\n"
                                       "\n");
    Outcome r = Etlan("lint " + Quoted(bad));
    EXPECT_EQ(r.status, 1);
    for (const char* line : {":4: error: station 0 is no station", ":5: error: station 65 is above 64",
                             ":6: error: station 10 is the PC's own number (header line)",
                             ":7: error: station 1 is defined again (first in line 3)", ":8: error: station 2: missing quotes",
                             ":9: error: station 3: host text \"127.000.000.001.5\" is longer than 15",
                             ":10: error: station 4: host name \"plc-four\" cannot be resolved: the driver's start fails",
                             ":11: warning: an empty line: the driver skips it but logs \"station num. too big in line: 10\""}) {
        EXPECT_TRUE(r.Has(line)) << line << "\n" << r.out;
    }
    EXPECT_FALSE(r.Has(":3:")) << r.out;

    r = Etlan("lint " + Quoted(dir_.Write("noheader.int", StationLine(1, sim_.Port(1)) + StationLine(7, sim_.Port(7)))));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has(":1: error: no header line")) << r.out;
    EXPECT_EQ(Etlan("lint " + Quoted(dir_.Write("empty.int", ""))).status, 1);
    r = Etlan("lint " + Quoted(dir_.Write("binary.int", std::string("PC-stn: 10\n\x7f" "ELF\0\x01", 16))));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has(":2: error: byte 0x00")) << r.out;
    EXPECT_EQ(Etlan("lint" + stations_).status, 0);

    r = Etlan("start -s " + Quoted(bad));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has(":5: error: station 65 is above 64")) << r.out;
    r = Etlan("read 10D00100" + stations_);
    EXPECT_TRUE(r.Has("station 10 is the PC's own number (header line)")) << r.out;
    r = Etlan("read 01D00100 -s " + Quoted(dir_.Path() + "/noheader.int"));
    EXPECT_TRUE(r.Has("line 1: no header line")) << r.out;
}

// check takes the data type from the text as read does: the README's tags
// pass both.
TEST_F(EtlanFaults, CheckAgreesWithRead) {
    ASSERT_TRUE(sim_.SetFromText("D200=0x12345678"));
    for (const char* tag : {"01D00100", "01D00200_D", "01R00105", "01D00300", "01G00010"}) {
        EXPECT_EQ(Etlan(std::string("check ") + tag).status, 0) << tag;
        EXPECT_EQ(Etlan(std::string("read ") + tag + stations_).status, 0) << tag;
    }
}

// A one-shot command starts only the stations its tags name.
TEST_F(EtlanFaults, OneShotCommandsStartOnlyTheirStations) {
    EXPECT_EQ(Etlan("read 01D00100" + stations_).status, 0);
    EXPECT_EQ(Etlan("write 01D00101 5" + stations_).status, 0);
    EXPECT_EQ(sim_.Accepted(1), 2);
    EXPECT_EQ(sim_.Accepted(7), 0);
    EXPECT_EQ(sim_.Accepted(6), 0);
}

// A station that drops its connections (a PLC restarting) is brought back
// by WarmStart during a poll, and counted; etlan warmstart does it by hand.
TEST_F(EtlanFaults, APollReconnectsAStationThatRestarted) {
    Outcome r;
    std::atomic<bool> ended{false};
    std::thread poll([&] {
        r = Etlan("poll 01D00100 -l 50 -n 60" + stations_);
        ended = true;
    });
    // The restart comes once the poll's second round has reached the
    // station, however long etlan took to start, with most rounds to come.
    const bool polling =
        etl::test::WaitUntil([&] { return sim_.Requests(1) >= 2 || ended; }) && !ended;
    if (polling) sim_.RestartStation(1);
    poll.join();
    ASSERT_TRUE(polling) << "the poll did not read station 1 in time:\n" << r.out;
    EXPECT_TRUE(r.Has("etlan: station 1: closed by the PLC\n") || r.Has("etlan: station 1: reset by the PLC\n")) << r.out;
    EXPECT_TRUE(r.Has("etlan: station 1: WarmStart made its connection again")) << r.out;
    EXPECT_TRUE(r.Has("etlan: station 1 answers again")) << r.out;
    EXPECT_TRUE(r.Has("station 1: 1 reconnection(s) by WarmStart in 1 attempt(s)")) << r.out;
    EXPECT_TRUE(r.Has("#60  01D00100=7")) << r.out;
    EXPECT_EQ(sim_.Accepted(1), 2);

    r = Etlan("warmstart 1 7 -o" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("WarmStart station 1: result 0 (ok)")) << r.out;
    EXPECT_TRUE(r.Has("WarmStart station 7: result 0 (ok)")) << r.out;
    // The simulator's thread may take the connections from its listener a
    // little after etlan ended (valgrind slows it down): wait for them.
    etl::test::WaitUntil([&] { return sim_.Accepted(1) >= 4; });
    EXPECT_EQ(sim_.Accepted(1), 4);  // ColdStart and WarmStart
    EXPECT_EQ(sim_.Accepted(6), 1);  // the poll's start; warmstart does not name it
    r = Etlan("warmstart 2" + stations_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("station 2 is not defined in the station file")) << r.out;
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " warmstart 65" + stations_).status, 2);
}

// etlan scan: one line per station with the address the driver connects
// (a name's too), a summary, failure when one fails.
TEST_F(EtlanFaults, ScanShowsEachStationAndFailsOnAnyFailure) {
    const std::string port7 = std::to_string(sim_.Port(7));
    const std::string file = dir_.Write("scan.int", "PC-stn: 10\n" + StationLine(1, sim_.Port(1)) +
                                                        "07 \"localhost\" \"" + port7 + "\"\n" + StationLine(8, 1) +
                                                        "65 \"127.0.0.1\" \"1\"\n");
    Outcome r = Etlan("scan -s " + Quoted(file));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("station  1  127.0.0.1:" + std::to_string(sim_.Port(1)))) << r.out;
    EXPECT_TRUE(r.Has("ok    address ok, connected, answers D 0 in ")) << r.out;
    EXPECT_TRUE(r.Has("station  7  127.0.0.1:" + port7)) << r.out;
    EXPECT_TRUE(r.Has("ok    address ok (\"localhost\"), connected, answers D 0 in ")) << r.out;
    EXPECT_TRUE(r.Has("station  8  127.0.0.1:1           FAIL  address ok, no connection")) << r.out;
    EXPECT_TRUE(r.Has("3 station(s): 2 answer, 1 failed")) << r.out;
    EXPECT_TRUE(r.Has(":5: error: station 65 is above 64")) << r.out;
    EXPECT_EQ(sim_.Requests(7), 1);
    r = Etlan("scan -s " + Quoted(dir_.Write("good.int", "PC-stn: 10\n" + StationLine(1, sim_.Port(1)))));
    EXPECT_EQ(r.status, 0);
}

// etlan scan asks every station at once, so that silent stations cost one
// exchange's time in all, not one each; it prints each line as its station
// is done and names why a station fails, in the driver's words: garbage, a
// wrong station number, a PLC error, a closed connection, a refused one, no
// reply, and a unit that answers only in the other station-field form,
// with the option that fixes it.
TEST_F(EtlanFaults, ScanAsksEveryStationAtOnceAndNamesWhyOneFails) {
    etl::sim::Simulator sim;
    const std::vector<int> silent = {5, 6, 7, 8, 9, 13, 14};
    std::vector<int> stations = {1, 2, 3, 4, 11, 12};
    stations.insert(stations.end(), silent.begin(), silent.end());
    for (int st : stations) ASSERT_GT(sim.AddStation(st), 0);
    etl::sim::Faults f;
    f.garbage = true;
    sim.SetFaults(2, f);
    f = {};
    f.wrongStation = 9;
    sim.SetFaults(3, f);
    f = {};
    f.negativeAnswers = -1;
    sim.SetFaults(4, f);
    f = {};
    f.closeAfterRequest = true;
    sim.SetFaults(12, f);
    f = {};
    f.dropAnswers = -1;
    for (int st : silent) sim.SetFaults(st, f);
    sim.SetStationField(11, etl::sim::StationField::kDecimal, true);
    ASSERT_TRUE(sim.Start());
    std::string file = "PC-stn: 64\n";
    for (int st : stations) file += StationLine(st, sim.Port(st));
    file += StationLine(20, 1);  // nothing listens
    const std::string scan = Quoted(EtlanPath()) + " scan -s " + Quoted(dir_.Write("why.int", file));
#if !defined(_WIN32)
    // Into a file: the answering station's line is there while the silent
    // ones are still asked.
    Background background(scan, dir_.Path());
    EXPECT_TRUE(etl::test::WaitUntil([&] {
        return background.Output().find("station  1 ") != std::string::npos || background.Ended();
    }) && !background.Ended()) << background.Output();
    Outcome r = background.Finish();
    EXPECT_TRUE(r.Has("status=1")) << r.out;
#else
    Outcome r = Shell(scan);
    EXPECT_EQ(r.status, 1);
#endif
    const auto line = [&](int st) {
        char head[16];
        std::snprintf(head, sizeof head, "station %2d  ", st);
        const auto at = r.out.find(head);
        return at == std::string::npos ? std::string() : r.out.substr(at, r.out.find('\n', at) - at);
    };
    const std::string read = ", connected, read of D 0: ";
    EXPECT_NE(line(1).find("ok    address ok, connected, answers D 0 in "), std::string::npos) << r.out;
    EXPECT_NE(line(2).find(read + "no MEWTOCOL text in the answer, result 1 after "), std::string::npos) << r.out;
    EXPECT_NE(line(3).find(read + "another station's number in the answer, result 1 after "), std::string::npos) << r.out;
    EXPECT_NE(line(4).find(read + "PLC error 42 (command not supported), result 1 after "), std::string::npos) << r.out;
    EXPECT_NE(line(12).find(read + "closed by the PLC, result 2 after "), std::string::npos) << r.out;
    EXPECT_NE(line(20).find("FAIL  address ok, no connection: connection refused"), std::string::npos) << r.out;
    EXPECT_NE(line(11).find(read + "no reply within 1000 ms, result 2 after "), std::string::npos) << r.out;
    EXPECT_NE(line(11).find("; it answers with the station field in decimal (in "), std::string::npos) << r.out;
    EXPECT_NE(line(11).find("): write station-field=decimal after the port on line 6"), std::string::npos) << r.out;
    for (int st : silent) {
        EXPECT_NE(line(st).find(read + "no reply within 1000 ms, result 2 after "), std::string::npos) << st << "\n" << r.out;
        EXPECT_EQ(line(st).find("it answers"), std::string::npos) << r.out;
    }
    EXPECT_TRUE(r.Has("14 station(s): 1 answer, 13 failed")) << r.out;
    // One after the other, each silent station would take its three
    // attempts of 1 s.
    EXPECT_LT(r.seconds, 1.5 * static_cast<double>(silent.size())) << r.out;
}

// Output for scripts: records of a poll as CSV or JSON lines on standard
// output alone, the statistics per tag and station, the driver's log kept.
TEST_F(EtlanFaults, PollRecordsForScriptsAndTheDriversLogKept) {
    Outcome r;
#if !defined(_WIN32)  // cmd has no group with its own redirection
    const std::string noErrors = " 2>/dev/null)";
    const std::string poll = "(" + Quoted(EtlanPath()) + " poll" + stations_;
    r = Shell(poll + "01D00100 09D00100 -n 2 -l 10 --csv" + noErrors);
    const auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            out.push_back(text.substr(at, end - at));
        }
        return out;
    };
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 5u) << r.out;
    EXPECT_EQ(rows[0], "time,round,tag,station,result,meaning,value,ms,reason");
    EXPECT_NE(rows[1].find("Z,1,01D00100,1,0,ok,7,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[4].find("Z,2,09D00100,9,2,no answer,,"), std::string::npos) << rows[4];
    EXPECT_EQ(rows[4].substr(rows[4].rfind(',')), ",not connected") << rows[4];

    r = Shell(poll + "01D00100 -c 2 -1 --json" + noErrors);
    rows = lines(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_NE(rows[0].find("\"round\":1,\"tag\":\"01D00100\",\"station\":1,\"result\":0,\"meaning\":\"ok\","
                           "\"value\":[7,0],\"ms\":"),
              std::string::npos)
        << rows[0];
    EXPECT_NE(rows[0].find(",\"reason\":null}"), std::string::npos) << rows[0];
#endif

    r = Etlan("poll 01D00100 09D00100 -n 2 -l 10" + stations_);
    EXPECT_TRUE(r.Has("tag 01D00100: good 2, refused 0, no answer 0, min/avg/max ")) << r.out;
    EXPECT_TRUE(r.Has("station 9: good 0, refused 0, no answer 2, min/avg/max ")) << r.out;
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " read 01D00100 --csv" + stations_).status, 2);

    const std::string log = dir_.Path() + "/driver.log";
    EXPECT_EQ(Etlan("read 01D00100 --log " + Quoted(log) + stations_).status, 0);
    std::string kept;
    if (FILE* f = std::fopen(log.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) kept.append(buf, n);
        std::fclose(f);
    }
    EXPECT_NE(kept.find("ColdStart"), std::string::npos) << kept;
}

// A range longer than one request is read in requests the check allows.
TEST_F(EtlanFaults, ReadSplitsALongRange) {
    sim_.SetWord('D', 127, 9);
    sim_.SetWord('G', 36, 0x5678);
    sim_.SetWord('G', 37, 0x1234);
    Outcome r = Etlan("read 01D00100 -c 30" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("30 x 16-bit in 2 requests:")) << r.out;
    EXPECT_TRUE(r.Has("[27] D127: 9 (0x0009)")) << r.out;
    EXPECT_EQ(sim_.Requests(1), 2);
    r = Etlan("read 01G00010 -c 14 -q" + stations_);  // 13 double words, then 1
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n305419896\n"), std::string::npos) << r.out;
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " read 01D99990 -c 30" + stations_).status, 2);
    // A poll reads the same range in the same requests.
    r = Etlan("poll 01D00100 -c 30 -1" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("  01D00100=[7 (0x0007), 0 (0x0000), ")) << r.out;
    EXPECT_TRUE(r.Has(", 9 (0x0009), 0 (0x0000), 0 (0x0000)]")) << r.out;
    EXPECT_TRUE(r.Has("2 requests transmitted, 2 received")) << r.out;
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " poll 01D99990 -c 30 -1" + stations_).status, 2);
    EXPECT_EQ(sim_.Requests(1), 6);
}

// Several values go to consecutive addresses, all checked before the
// first write; --verify reads each back.
TEST_F(EtlanFaults, WriteTakesSeveralValuesAndVerifies) {
    Outcome r = Etlan("write 01D00200 1 -2 0x10 --verify" + stations_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("01D00202 (PLC 1, data register D 202, 16-bit): wrote 16 (0x0010)")) << r.out;
    EXPECT_TRUE(r.Has("  verified: read back 65534")) << r.out;
    EXPECT_EQ(sim_.Word('D', 200), 1);
    EXPECT_EQ(sim_.Word('D', 201), 0xFFFE);
    EXPECT_EQ(sim_.Word('D', 202), 0x10);
    EXPECT_EQ(Etlan("write 01D00210_D 0x12345678 5" + stations_).status, 0);
    EXPECT_EQ(sim_.Word('D', 211), 0x1234);
    EXPECT_EQ(sim_.Word('D', 212), 5);
    EXPECT_EQ(Shell(Quoted(EtlanPath()) + " write 01D00300 1 2 70000" + stations_).status, 2);
    EXPECT_EQ(sim_.Word('D', 300), 0);
    r = Shell(Quoted(EtlanPath()) + " write 01D99999 1 2" + stations_);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.Has("run past its address digits")) << r.out;
    EXPECT_EQ(sim_.Requests(1), 3 + 3 + 2);  // writes and read-backs; none for the refused lines
}

// --host: the tags' stations at an address, without a station file;
// --timeout: each station's answer time-out, carried to the driver on its
// station line, whichever file the driver gets.
TEST_F(EtlanFaults, ATargetWithoutAStationFileAndATimeOut) {
    const std::string host = " --host 127.0.0.1:" + std::to_string(sim_.Port(1));
    Outcome r = Etlan("read 01D00100" + host);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("01D00100 (PLC 1, data register D 100, 16-bit): 7 (0x0007)")) << r.out;
    EXPECT_EQ(Etlan("write 01D00101 5" + host).status, 0);
    EXPECT_EQ(sim_.Word('D', 101), 5);
    EXPECT_EQ(Etlan("poll 01D00100 01D00101 -n 2 -l 10 -q" + host).out, "7  5\n7  5\n");
    r = Etlan("scan" + host);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.Has("1 station(s): 1 answer, 0 failed")) << r.out;

    r = Etlan("read 05D00100 --timeout 100 -v" + stations_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("log | ZavUR: station 5 options: timeout=100 ms")) << r.out;
    EXPECT_TRUE(r.Has("log | ZavUR: station 5 fails: no answer within 100 ms")) << r.out;
    r = Etlan("read 05D00100 --timeout 60 --host 127.0.0.1:" + std::to_string(sim_.Port(5)));
    EXPECT_TRUE(r.Has("log | ZavUR: station 5 fails: no answer within 60 ms")) << r.out;

    // An address the driver cannot use is refused before anything starts.
    r = Shell(Quoted(EtlanPath()) + " read 01D00100 --host 127.0.0.300:9094");
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.Has("etlan: --host 127.0.0.300:9094: station 1: host text \"127.0.0.300\" is no usable IPv4 address"))
        << r.out;
#if !defined(_WIN32)
    // The file etlan writes for the driver goes when etlan ends.
    const std::string env = "TMPDIR=" + Quoted(tmp_) + " " + Quoted(EtlanPath());
    EXPECT_EQ(Shell(env + " read 01D00100 --timeout 500" + stations_).status, 0);
    EXPECT_EQ(Shell(env + " read 01D00100" + host).status, 0);
    EXPECT_EQ(Leftovers(), 0);
#endif
}

// --format and --word-order: reads, the poll line and its records show
// values signed, unsigned, in hex, BCD or as floats over two words.
TEST_F(EtlanFaults, ValueFormatsInReadsPollsAndRecords) {
    sim_.SetWord('D', 300, 0xFFFE);
    sim_.SetWord('D', 301, 0x1234);
    sim_.SetWord('D', 400, 0x0000);
    sim_.SetWord('D', 401, 0x3FC0);  // 1.5
    Outcome r = Etlan("read 01D00400 --format float" + stations_);
    EXPECT_TRUE(r.Has("01D00400 (PLC 1, data register D 400, 32-bit float): 1.5\n")) << r.out;
    EXPECT_EQ(Etlan("read 01D00400_D -q --format hex --word-order high-first" + stations_).out, "0x00003FC0\n");
    EXPECT_EQ(Etlan("read 01D00300 -c 2 -q --format int" + stations_).out, "-2\n4660\n");
    EXPECT_EQ(Etlan("read 01D00301 -q --format bcd" + stations_).out, "1234\n");
    r = Etlan("poll 01D00300 01D00400 -1 --format float" + stations_);
    EXPECT_TRUE(r.Has("01D00400=1.5   | good 2")) << r.out;
    r = Etlan("poll 01D00300 -1 --format int" + stations_);
    EXPECT_TRUE(r.Has("  01D00300=-2   | good 1")) << r.out;
    r = Shell(Quoted(EtlanPath()) + " read 01R00105 --format float" + stations_);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.Has("--format float takes 32 bits over two words: 01R00105 is a bit")) << r.out;
#if !defined(_WIN32)  // cmd has no group with its own redirection
    const std::string poll = "(" + Quoted(EtlanPath()) + " poll" + stations_;
    r = Shell(poll + "01D00300 -c 2 -1 --csv --format int 2>/dev/null)");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "time,round,tag,station,result,meaning,value0,value1,ms,reason");
    EXPECT_TRUE(r.Has("Z,1,01D00300,1,0,ok,-2,4660,")) << r.out;
    r = Shell(poll + "01D00300 01D00400_D -1 --json --format hex 2>/dev/null)");
    EXPECT_TRUE(r.Has("\"value\":[\"0xFFFE\"]")) << r.out;
    EXPECT_TRUE(r.Has("\"value\":[\"0x3FC00000\"]")) << r.out;
    r = Shell(poll + "01D00400 -1 --json --format float 2>/dev/null)");
    EXPECT_TRUE(r.Has("\"value\":[1.5]")) << r.out;
#endif
}

// A poll names why a read fails, in plain words and with the time, once
// for each station (or refused tag) until it answers again; -q keeps
// these lines.
TEST_F(EtlanFaults, APollSaysWhyEachStationFailsOnce) {
    const std::string file = dir_.Write("why.int", "PC-stn: 10\n" + StationLine(1, sim_.Port(1)) +
                                                       StationLine(5, sim_.Port(5)) + StationLine(8, 1));
    const Outcome r = Etlan("poll 01D00100 05D00100 08D00100 09D00100 01D99999 -n 3 -l 10 -q --timeout 100 -s " +
                            Quoted(file));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("7  -- (2: no reply within 100 ms)  -- (2: connection refused)  -- (2: not connected)  -- (1: PLC "
                      "error 61 (data error: address or value out of range))\n"))
        << r.out;
    const auto said = [&](const std::string& text) {
        const std::regex line("(^|\n)\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d etlan: " + text + "\n");
        return std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), line), std::sregex_iterator());
    };
    EXPECT_EQ(said("station 5: no reply within 100 ms"), 1) << r.out;
    EXPECT_EQ(said("station 8: connection refused"), 1) << r.out;
    EXPECT_GE(said("station 8: WarmStart failed: connection refused; next in 0\\.5 s"), 1) << r.out;
    EXPECT_EQ(said("station 9: not connected \\(station 9 is not defined in the station file\\)"), 1) << r.out;
    EXPECT_EQ(said("01D99999: PLC error 61 \\(data error: address or value out of range\\)"), 1) << r.out;
}

// --trace: the frames as they travel between the driver and the station,
// on standard error, with the results on standard output as without it;
// negative answers decoded, answers in parts and stray bytes shown, the
// bytes passed on unchanged, a station that does not connect left to the
// driver, and a poll that outlives a restart of its station.
TEST_F(EtlanFaults, TraceShowsTheFramesOnTheWire) {
    const std::string errors = dir_.Path() + "/trace.txt";
    const auto traced = [&](const std::string& args, std::string* trace) {
        const Outcome r = Shell(Quoted(EtlanPath()) + " " + args + stations_ + " 2>" + Quoted(errors), false);
        *trace = FileText(errors);
        std::erase(*trace, '\r');  // Windows ends lines with CR LF
        return r;
    };
    std::string trace;
    Outcome r = traced("read 01D00100 --trace", &trace);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Shell(Quoted(EtlanPath()) + " read 01D00100" + stations_).out);
    const auto command = trace.find("  -> st 01  10 00 14 00 00 00 00 00 00 00 01 0A  %01#RDD0010000100**\\r\n");
    ASSERT_NE(command, std::string::npos) << trace;
    const auto lineStart = trace.rfind('\n', command) == std::string::npos ? 0 : trace.rfind('\n', command) + 1;
    int h = -1, m = -1, sec = -1, ms = -1;
    EXPECT_EQ(std::sscanf(trace.c_str() + lineStart, "%2d:%2d:%2d.%3d", &h, &m, &sec, &ms), 4) << trace;
    EXPECT_EQ(command - lineStart, 12u) << trace;
    const auto answer = trace.find("  <- st 01  10 00 0D 00 00 00 00 00 00 00 0A 01  %01$RD0700");
    EXPECT_GT(answer, command) << trace;
    EXPECT_NE(answer, std::string::npos) << trace;
    EXPECT_NE(trace.find("== st 01  closed by the driver"), std::string::npos) << trace;

    r = traced("read 01D40000 --trace", &trace);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(trace.find("!61"), std::string::npos) << trace;
    EXPECT_NE(trace.find("\\r   PLC error 61: data error: address or value out of range\n"), std::string::npos) << trace;

    sim_.SetSplit(7, 40);
    sim_.SetWord('D', 119, 0x2A);
    r = traced("read 07D00100 -c 20 -q --trace", &trace);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n42\n"), std::string::npos) << r.out;
    EXPECT_NE(trace.find("<- st 07  10 00 28 00 00 00 00 00 00 00 0A 07  %07$RD"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> st 07  10 00 07 00 00 00 00 00 00 00 07 0A  %07**&\\r\n"), std::string::npos) << trace;
    sim_.SetSplit(7, 0);

    // Bytes before an answer's header: shown raw, passed on as they came.
    etl::sim::Faults stray;
    stray.strayBytes = std::string("\x01zz", 3);
    sim_.SetFaults(7, stray);
    const int plain = Shell(Quoted(EtlanPath()) + " read 07D00100" + stations_).status;
    r = traced("read 07D00100 --trace", &trace);
    EXPECT_EQ(r.status, plain);
    EXPECT_NE(trace.find("<- st 07  raw, 3 byte(s), no ET-LAN header: 01 7A 7A  \"\\x01zz\""), std::string::npos) << trace;
    sim_.SetFaults(7, {});

    // A station that does not connect keeps its line: the driver fails on
    // it as it does without the trace.
    const std::string refused = " -s " + Quoted(dir_.Write("refused.int", "PC-stn: 10\n" + StationLine(8, 1)));
    const Outcome direct = Shell(Quoted(EtlanPath()) + " read 08D00100" + refused);
    r = Shell(Quoted(EtlanPath()) + " read 08D00100 --trace" + refused);
    EXPECT_EQ(r.status, direct.status);
    EXPECT_TRUE(r.Has("== st 08  127.0.0.1:1: no connection (")) << r.out;
    EXPECT_TRUE(r.Has("not relayed, the driver connects there itself")) << r.out;
    EXPECT_TRUE(r.Has("read failed, result 2")) << r.out;
    // The relay reads a host text as the driver does: one in octal, which
    // the driver never connects, is not relayed either (though a station
    // listens at what inet_aton makes of it).
    std::string octalFile = "PC-stn: 10\n01 \"127.000.0.1\" \"";
    octalFile += std::to_string(sim_.Port(1)) + "\"\n";
    const std::string octal = " -s " + Quoted(dir_.Write("octal.int", octalFile));
    const int requests = sim_.Requests(1);
    r = Shell(Quoted(EtlanPath()) + " read 01D00100 --trace" + octal);
    EXPECT_EQ(r.status, Shell(Quoted(EtlanPath()) + " read 01D00100" + octal).status);
    EXPECT_TRUE(r.Has("\"127.000.0.1\" has a part in octal or hex")) << r.out;
    EXPECT_EQ(sim_.Requests(1), requests);

    std::atomic<bool> ended{false};
    const int before = sim_.Requests(1);
    std::thread poll([&] {
        r = Etlan("poll 01D00100 -l 50 -n 60 --trace" + stations_);
        ended = true;
    });
    const bool polling =
        etl::test::WaitUntil([&] { return sim_.Requests(1) >= before + 2 || ended; }) && !ended;
    if (polling) sim_.RestartStation(1);
    poll.join();
    ASSERT_TRUE(polling) << "the poll did not read station 1 in time:\n" << r.out;
    EXPECT_TRUE(r.Has("== st 01  closed by the station")) << r.out;
    EXPECT_TRUE(r.Has("== st 01  the driver connected again: connecting to 127.0.0.1:")) << r.out;
    EXPECT_TRUE(r.Has("#60  01D00100=7")) << r.out;
}

// etlan bench against a simulator: station 1 answers at once, station 2
// late, station 3 never accepts a connection. D1000..D1026 hold distinct
// values.
class EtlanBench : public ::testing::Test {
protected:
    static constexpr int kRegister = 1000;
    static constexpr int kWords = 27;

    void SetUp() override {
        for (int st = 1; st <= 3; ++st) ASSERT_GT(sim_.AddStation(st), 0);
        etl::sim::Faults late;
        late.delayMs = 2;
        sim_.SetFaults(2, late);
        etl::sim::Faults silent;
        silent.neverAccept = true;
        sim_.SetFaults(3, silent);
        ASSERT_TRUE(sim_.Start());
        for (int i = 0; i < kWords; ++i) sim_.SetWord('D', kRegister + i, static_cast<std::uint16_t>(0x1234 + 0x0101 * i));
        stations_ = Quoted(dir_.Write("bench.int", "PC-stn: 65\n" + StationLine(1, sim_.Port(1)) +
                                                       StationLine(2, sim_.Port(2))));
    }

    // A station file of n stations that all point at the never-accepting one.
    std::string SilentFile(int n) {
        std::string file = "PC-stn: 65\n";
        for (int st = 1; st <= n; ++st) file += StationLine(st, sim_.Port(3));
        return Quoted(dir_.Write("silent" + std::to_string(n) + ".int", file));
    }

    // A frame as etlan bench -v shows it: header bytes in hex, "| ", the text.
    static std::string Shown(const std::string& frame) {
        std::string out;
        char hex[8];
        for (std::size_t i = 0; i < frame.size(); ++i) {
            const auto c = static_cast<unsigned char>(frame[i]);
            if (i < 12) {
                std::snprintf(hex, sizeof hex, "%02X ", c);
                out += hex;
                if (i == 11) out += "| ";
            } else if (c == '\r') {
                out += "\\r";
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    etl::test::TempDir dir_;
    etl::sim::Simulator sim_;
    std::string stations_;
};

TEST_F(EtlanBench, MeasuresDriverAndRawClientOnTheSameFramesAndReportsEveryTarget) {
    const Outcome r = Etlan("bench -s " + stations_ + " --plc 1 --slow-plc 2 --rounds 2 -c 20 --silent " +
                            SilentFile(2) + " --silent-limit 30 -v --write-register 1000");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* row : {"ReadValue D1000 (5)", "ReadBlock D1000 x27 (6)", "WriteValue D1000 (7)",
                            "ReadValue PLC 2 (5)"}) {
        EXPECT_TRUE(r.Has(row)) << row << "\n" << r.out;
    }
    // Every row of the two tables measured: a median, a p99 and a rate
    // above zero (a 26-character label, the client in 7, the figures).
    int driverRows = 0, rawRows = 0;
    std::size_t at = 0;
    bool inTable = false;
    for (std::size_t end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = r.out.substr(at, end - at);
        if (line.rfind("operation (code)", 0) == 0 || line.rfind("late station", 0) == 0) inTable = true;
        if (line.empty()) inTable = false;
        if (!inTable || line.size() < 34) continue;
        const std::string client = line.substr(27, 7);
        if (client != "driver " && client != "raw    ") continue;
        double median = 0, p99 = 0, rate = 0;
        char unit1[4] = {}, unit2[4] = {};
        ASSERT_EQ(std::sscanf(line.c_str() + 34, " %lf %3s %lf %3s %lf", &median, unit1, &p99, unit2, &rate), 5) << line;
        EXPECT_GT(median, 0) << line;
        if (std::string(unit1) == unit2) {
            EXPECT_GE(p99, median) << line;
        }
        EXPECT_GT(rate, 0) << line;
        ++(client == "driver " ? driverRows : rawRows);
    }
    EXPECT_EQ(driverRows, 4) << r.out;
    EXPECT_EQ(rawRows, 4) << r.out;
    EXPECT_TRUE(r.Has("2 station(s) that never answer")) << r.out;
    EXPECT_TRUE(r.Has("result 0, 2 did not connect")) << r.out;
    for (const char* target : {"ReadValue median latency / raw", "ReadValue p99 latency / raw",
                               "ReadValue CPU per read / raw", "CPU per 100 reads, answers after",
                               "ColdStart, 2 silent stations"}) {
        EXPECT_TRUE(r.Has(target)) << target << "\n" << r.out;
    }
    EXPECT_TRUE(r.Has(" of 5 targets met")) << r.out;
    EXPECT_FALSE(r.Has("FAILED")) << r.out;

    // Exactly the operations announced: on station 1 the raw client's first
    // block read and its read of the register to write, 20 warm-up and
    // 2 x 20 timed operations per kind and client; on station 2 one first
    // read, one warm-up and 100 reads per client.
    EXPECT_EQ(sim_.Requests(1), 2 + 3 * 2 * (20 + 2 * 20));
    EXPECT_EQ(sim_.Requests(2), 1 + 2 + 2 * 100);
    // The write writes back what D1000 holds.
    EXPECT_EQ(sim_.Word('D', kRegister), 0x1234);

    // The raw client's frames are byte for byte the driver's.
    auto shownFrame = [&](const std::string& name) {
        const auto p = r.out.find(name + " : ");
        return p == std::string::npos ? std::string("(none)") : r.out.substr(p + name.size() + 3, r.out.find('\n', p) - p - name.size() - 3);
    };
    ASSERT_EQ(Etlan("read 01D01000 -s " + stations_).status, 0);
    EXPECT_EQ(shownFrame("ReadValue "), Shown(sim_.LastRequest(1)));
    ASSERT_EQ(Etlan("read 01D01000 -c 27 -s " + stations_).status, 0);
    EXPECT_EQ(shownFrame("ReadBlock "), Shown(sim_.LastRequest(1)));
    ASSERT_EQ(Etlan("write 01D01000 0x1234 -s " + stations_).status, 0);
    EXPECT_EQ(shownFrame("WriteValue"), Shown(sim_.LastRequest(1)));
}

TEST_F(EtlanBench, AColdStartOutlivingItsLimitIsReportedAndTheRunStillEnds) {
    const Outcome r = Etlan("bench -s " + stations_ + " -c 5 --rounds 1 --silent " + SilentFile(8) +
                            " --silent-limit 0.2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.Has("still running after 0.2 s")) << r.out;
    EXPECT_TRUE(r.Has("> 0.2 s")) << r.out;
    EXPECT_TRUE(r.Has("NOT MET")) << r.out;
    EXPECT_TRUE(r.Has("skipped (no --slow-plc)")) << r.out;
    EXPECT_LT(r.seconds, 60.0);
    // Without --write-register nothing is written: the first block read,
    // then 20 warm-up and 5 timed reads of each kind per client.
    EXPECT_TRUE(r.Has("WriteValue (7)             not measured: no --write-register")) << r.out;
    EXPECT_EQ(sim_.Requests(1), 1 + 2 * 2 * (20 + 5));
}

TEST_F(EtlanBench, AWrongValueFailsTheRunAndAMissingStationStopsIt) {
    // The raw client asks another simulator whose registers differ: the
    // driver's reads no longer give the values the bench expects.
    etl::sim::Simulator other;
    ASSERT_GT(other.AddStation(1), 0);
    ASSERT_TRUE(other.Start());
    other.SetWord('D', kRegister, 0x4321);
    Outcome r = Etlan("bench -s " + stations_ + " -c 5 --rounds 1 --raw 127.0.0.1:" + std::to_string(other.Port(1)));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(r.Has("wrong value")) << r.out;

    r = Etlan("bench -s " + stations_ + " --plc 5");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_TRUE(r.Has("station 5 is not in the station file")) << r.out;
}

#if !defined(_WIN32)
TEST(EtlanTool, BrowseWithoutAUserInterfaceIsCancelled) {
    const Outcome r = Shell(Quoted(EtlanPath()) + " browse");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.Has("cancelled (result 53)")) << r.out;
}

TEST(EtlanDemo, RunsGreen) {
#if defined(ETLAN_SOURCE_DIR)
    const Outcome r = Shell("bash " + Quoted(std::string(ETLAN_SOURCE_DIR) + "/scripts/demo.sh") + " " +
                        Quoted(etl::plat::ExecutableDirectory()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.Has("steps behaved as expected")) << r.out;
    EXPECT_LT(r.seconds, 30.0);  // the demo's own bound
#else
    GTEST_SKIP() << "source directory unknown";
#endif
}
#endif

}  // namespace
