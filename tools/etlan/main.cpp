// etlan: a command-line host for the ETLANdr driver. It loads the driver
// library, calls its one entry point exactly as the SCADA host does, and
// shows what the driver did in words: identity, address checks, station
// file start, reads, writes, polling and the address dialog. One file per
// command in commands/; here the command line is read and dispatched.
#include <cerrno>
#include <cstdio>
#include <string>

#include "etl_version.h"
#include "tools/common/std_streams.h"

#include "tools/etlan/commands/command.h"
#include "tools/etlan/console.h"
#include "tools/etlan/driver.h"
#include "tools/etlan/options.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {
namespace {

struct Command {
    const char* name;
    int (*run)(const Options&);
};

constexpr Command kCommands[] = {
    {"info", CmdInfo},   {"check", CmdCheck}, {"start", CmdStart},   {"read", CmdRead},
    {"write", CmdWrite}, {"poll", CmdPoll},   {"browse", CmdBrowse}, {"bench", CmdBench},
    {"lint", CmdLint},   {"warmstart", CmdWarmStart}, {"scan", CmdScan},
};

constexpr char kShortUsage[] =
    "usage: etlan [options] COMMAND [arguments]\n"
    "commands: info check start lint scan read write poll warmstart browse bench help\n"
    "etlan --help for the whole text, etlan COMMAND --help for a command\n";

}  // namespace

int Main(int argc, char** argv) {
    PrepareConsole();
    InstallStopHandlers();
    if (argc <= 1) {
        std::fputs(kShortUsage, stderr);
        return kExitUsage;
    }
    Options o;
    std::string why;
    if (!ParseOptions(argc, argv, &o, &why)) return Usage(why);
    if (o.version) {
        std::printf("etlan %s\n", ETL_VERSION);
        return kExitOk;
    }
    if (o.command.empty() || o.command == "help") {
        std::fputs((o.args.empty() ? OverviewHelp() : CommandHelp(o.args[0])).c_str(), stdout);
        return kExitOk;
    }
    if (o.help) {
        std::fputs(CommandHelp(o.command).c_str(), stdout);
        return kExitOk;
    }
    if (const int status = CheckLineFiles(o, LibraryPath(o), &why); status != kExitOk) {
        std::fprintf(stderr, "etlan: %s%s\n", why.c_str(), status == kExitUsage ? " (etlan --help for usage)" : "");
        return status;
    }
    for (const auto& c : kCommands) {
        if (o.command == c.name) return c.run(o);
    }
    return Usage("unknown command " + o.command);
}

}  // namespace etl::etlan

int main(int argc, char** argv) {
    etl::tools::OpenStandardStreams();
    int rc = etl::etlan::Main(argc, argv);
    // A start whose lines did not reach the log ended the command: etlan
    // could not run, whatever the command made of it.
    if (etl::etlan::DriverLogLost()) rc = etl::etlan::kExitCannotRun;
    // Output that could not be written is a failure: a full disk, or a
    // reader that went away (a closed pipe, the message left out then).
    errno = 0;
    std::fflush(stdout);
    int error = 0;
    if (etl::etlan::OutputFailed(&error)) {
        if (error != EPIPE) std::fprintf(stderr, "etlan: cannot write to standard output\n");
        if (rc == etl::etlan::kExitOk) rc = etl::etlan::kExitFailed;
    }
    return rc;
}
