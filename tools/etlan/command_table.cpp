#include "tools/etlan/command_table.h"

namespace etl::etlan {
namespace {

constexpr CommandRule kCommandRules[] = {
    {"info", 0, 0, "", "identity of the driver (code 14) and its banner",
     R"(Calls the driver's identity function (code 14) without a context and shows
the values it reports: the vendor text, the banner (drawn from code page 437
as Unicode box drawing), the context size the host must allocate, and the
constants infoValueA, infoValueB, infoValueC and the reply words.
)"},
    {"check", 1, 1, "TAG", "address check of a tag text (code 3; code 4 with\n--suffix or a \"_D\" suffix)",
     R"(Runs the driver's address check on TAG as a host would before using a tag:
code 3 (CheckAddress), or code 4 (CheckAddressD, which also accepts the
"_D" suffix) with --suffix. Shows the result and every field the check
fills: plcNumber, memoryLetter, addressNumber, bitNumber (255 = none) and
bitSize; for an invalid text, why it is invalid. Without --type the data
type is taken from the text as for "etlan read"; 3, 4, 5 are 32 bits, 6 is
a bit, 7 is refused. A count is at most 27, 13 for memory code G (LD).

Address text: PLC number (2 digits, 00-64), memory code, 4 address digits
(5 for D, F and G), a bit digit 0-F for a bit tag (data type 6). Examples:
01D00100  02Y0010  02X0001A (with --type 6)  01G00010 (with --type 3)
)"},
    {"start", 0, 0, "", "ColdStart on a station file, show the driver's log,\nEndVpi",
     R"(A station file's first check: runs ColdStart (code 1) for driver number N,
shows the driver's log lines (stations read, connections made or failed)
and a summary, then ends the instance with EndVpi (code 11).

The driver opens "zavURnn.int" (nn = driver number, at least two digits) in
its current directory. With -s FILE etlan copies FILE into a temporary
directory under that name and runs the driver there; without -s the file
zavURnn.int in the current directory is used.

Exit status 0 when the start succeeded and every station connected, 1
otherwise.
)"},
    {"lint", 0, 1, "[FILE]", "the station file's mistakes, each with its line",
     R"(Reads a station file (FILE, or -s FILE, or zavURnn.int in the current
directory) as the driver reads it and reports, on standard error, each
line the driver would pass over or take otherwise than meant, as
FILE:LINE: error|warning: what, with what the driver does with the line
and the fix (line 1 is the header): no header line, a UTF-8 byte order
mark, a PC number cut at the header's ninth character (ETLANPC10 gives 0),
an empty or binary file, an empty line, a station line indented with a
blank (the driver takes it as a comment) or with a tab (it does not), a
comment started with a tab, a station number 0 or above 64, the PC's own
number (the header's), a station twice, missing quotes, a port without
its quotes (the driver still connects the station), a port that is no
number 1-65535 nor a TCP service this machine knows, a host text longer
than 15 characters or no IPv4 address, a host name that does not resolve
(the driver's whole start fails), options it does not understand. Host
texts are read with the driver's own code. Then one line of what the
driver takes from the file, on standard output: its stations, each with
the address a name or short form gives and its options in brackets.

Exit status 0 when the file holds no error, 1 when it does, 3 when it
cannot be read.
)"},
    {"scan", 0, 0, "", "every station of the station file at once: address,\nconnection, a read of D 0, why one fails",
     R"(Asks every station of the station file (see "etlan start --help") at once,
each by a driver instance of its own started on that station's line, and
prints each station's line as soon as it is done (on a terminal, a
progress line counts the stations done): the address and port the driver
connects, whether the host text gives one, whether the station connected,
whether it answers a read of D 0 (ReadValue, code 5) and how fast, and
when it does not, why: connection refused, no reply within the time-out,
closed by the PLC, PLC error N with its meaning, no MEWTOCOL text in the
answer (garbage), another station's number in the answer. A station from
10 on that gives no reply or another station's number is asked once more
with its station field in the other form; when it answers so, its line
names the option to write (station-field=decimal or hex). Then a summary.
A scan takes one exchange's time in all (about 3 s when a station is
silent). Lines the driver does not take are named with their line number;
-v adds the driver's log lines about each station. --trace shows the
frames as for "etlan read".

Exit status 0 when every station answers, 1 when any fails.
)"},
    {"read", 1, 1, "TAG", "read one value, or --count N values",
     R"(Checks TAG, starts the driver on the station file (see "etlan start --help"),
reads and ends the instance. One value is read with ReadValue (code 5),
--count N > 1 values with ReadBlock (code 6).

Without --type the data type is taken from the text: the "_D" suffix means
a 32-bit value (data type 3, checked with code 4); memory code G means data
type 3; a bit digit after four address digits (8 characters, not D/F/G)
means a bit (data type 6); anything else a 16-bit word (data type 0).

Values are shown in decimal and hex; 32-bit values are combined from their
two PLC words (lower address = low word; --word-order high-first for the
other order); bits as 0 or 1. --format shows them in one form: int
(signed), uint, hex, bcd, or float (IEEE 754 over two words; a word tag is
then read as two words). With -q only the values are printed, one per
line, in decimal or the form of --format. A range longer than one request
takes (27 elements, 13 for memory code G) is read in several.

--host HOST:PORT reads from HOST:PORT without a station file: etlan writes
the driver one, a line for each station the tags name. --timeout MS sets
the time each attempt waits for an answer (timeout=MS on the station lines
of the file the driver gets).

--trace writes every frame between the driver and the stations on standard
error as it passes: the time, the station, the 12-byte header in hex and
the text, a negative answer with the PLC's error code and its meaning.
etlan connects to each station before the driver starts and relays the
driver's connection to it on 127.0.0.1; a station that does not connect
then is left to the driver as without --trace, and its frames are not shown.
)"},
    {"write", 2, -1, "TAG VALUE...", "write one value, or several to consecutive\naddresses; --verify reads each back",
     R"(Checks TAG, starts the driver on the station file (see "etlan start --help"),
writes VALUE with WriteValue (code 7) and ends the instance. Several
values go to consecutive addresses (a double word takes two), one
WriteValue each; every address is checked and every value read before the
first write. VALUE is decimal (a negative value is written in two's
complement) or hex with 0x; a bit takes 0 or 1. The data type is taken
from the text as for "etlan read" when --type is not given. X, T and C
cannot be written. --trace shows the frames as for "etlan read".
)"},
    {"poll", 1, -1, "TAG...", "read tags again and again (a live line on a terminal);\na station that stops answering gets WarmStart",
     R"(Starts the driver once and reads every TAG again and again, a round every
MS milliseconds (default 1000) on a fixed schedule: on a terminal a live
line with the counts of good and failed reads, fitted to its width and
left standing whenever a message comes (into a file or a pipe, and with
-v, -q, --csv or --json, a line per round); a round that takes longer
than MS is counted and the next starts at once. -1, or -n N polls, stops it with a
summary: "N rounds in S s, N overran the interval" and "N requests
transmitted, N received, N errors, X% request loss". Ctrl-C, SIGTERM or
SIGHUP stops it after the read under way, with the summary and exit status
130; a
second Ctrl-C ends it at once.

A station whose read gives 2 (no answer, not connected) gets WarmStart
(code 2) after the round: at once, then while its reads keep failing after
0.5 s, 1 s, 2 s ... at most 30 s apart; a good read starts over. Each
attempt is reported on standard error, the reconnections per station in
the summary. Why reads fail is said there too, with the time, when it
starts or changes and when the station answers again (connection refused,
no reply within 1000 ms, closed by the PLC, a PLC error...), also with -q.
Data types, ranges of -c, --format and --host work as for "etlan read";
--trace shows the frames as for "etlan read" (a WarmStart through the relay succeeds even
while the station is down; the relay then closes the connection and says
why).
)"},
    {"warmstart", 1, -1, "N...", "ColdStart on stations N..., then WarmStart of each",
     R"(Starts the driver on the lines of stations N... of the station file (see
"etlan start --help"), then calls WarmStart (code 2) for each, as the host
does to make a lost connection again, shows each result and ends the
instance. N is a station number from 1 to 64.

Exit status 0 when every WarmStart succeeded, 1 otherwise.
)"},
    {"browse", 0, 0, "", "the \"Tag Format\" address dialog (code 16)",
     R"(Opens the driver's "Tag Format" address dialog (code 16, no owner window)
and prints the address text composed in it, or "cancelled" (result 53).
Exit status 0 when confirmed, 1 when cancelled.
)"},
    {"bench", 0, 0, "", "the driver against a raw socket client: latency,\noperations per second, CPU",
     R"(Measures the driver against the physical limit: a raw client inside etlan
that sends the very same frames (the 12-byte ET-LAN header and the
MEWTOCOL-COM text the driver sends) on a blocking socket of its own and
reads each answer up to its carriage return. The driver is started on the
station file (see "etlan start --help") and called only through VpiMain.

For station P it times ReadValue of D A (code 5) and ReadBlock of 27 words
D A..D A+26 (code 6), and with --write-register W WriteValue of D W (code
7), in R rounds of N operations per client and kind, driver and raw client
taking turns, and
shows for each the median and 99th-percentile time, operations per second
and the CPU seconds this process used per 10,000 operations, with the
driver's ratios to the raw client. The registers must hold steady values:
the raw client reads them first and every later read must give them. It
writes nothing unless --write-register names D W: then D W is written
thousands of times with the value it held at the start (never on a running
plant).

Ends with the targets, each met or NOT MET: ReadValue median <= 1.1x raw,
p99 <= 1.3x raw, CPU per read <= 1.3x raw; CPU per 100 reads from the late
station <= 0.005 s; ColdStart on the silent stations <= 1.2 s.

Exit status 0 when the bench ran (whether or not the targets were met); 1
when an operation failed or read a wrong value; 3 when it could not run
(driver library, station file, station not in it, no answer to the first
read).
)"},
    {"help", 0, 1, "[COMMAND]", "this text, or a command's", ""},
};

}  // namespace

std::span<const CommandRule> CommandRules() { return kCommandRules; }

const char kOverview[] = R"(Options go anywhere on the line, short ones clustered (-1q), long ones as
--opt value or --opt=value, or abbreviated (--dri 2). An option that the
command does not use is refused, as is a value outside what the option
takes; "etlan COMMAND --help" lists the options of a command.

Exit status: 0 success; 1 the driver reported a failure (invalid address,
refused command, negative answer, no answer, dialog cancelled, a station
that did not connect, output that could not be written); 2 a wrong
command line (an unknown command or option, a missing or extra argument,
a value that is not what it takes, an option the command does not use),
found before the driver starts and before anything is sent; 3 etlan could
not run (driver library or station file not found or not readable, log
file not writable); 130 stopped by Ctrl-C, SIGTERM or SIGHUP.

Results go to standard output, diagnoses to standard error.

Result codes: 0 ok; 1 invalid address, refused command or negative answer;
2 no answer, not connected or failed start; 53 dialog cancelled.
)";

}  // namespace etl::etlan
