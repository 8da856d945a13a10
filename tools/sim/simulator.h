// etlan-sim: a simulated PLC with one ET-LAN unit per station, serving
// MEWTOCOL-COM behind the 12-byte ET-LAN header on 127.0.0.1. Used by the
// tests in-process (this library) and by scripts as the etlan-sim executable.
//
// Memory. All stations serve one memory image: one word array per memory
// key (the keys of the driver's memory-area table), sized by the CPU model
// the simulator plays (see Model, and the tables in memory.cpp). An area
// has one or two ranges of valid word addresses (the second for special
// registers such as DT90000 on an FP2); a command touching any word outside
// them is refused with error 61, a command on an area the model does not
// have at all with 42. The generous model (the default) has:
//   X, Y, R, L      contact areas as words (WX, WY, WR, WL)   1000 words
//   T, C            timer / counter contacts as words          256 words
//   D               data registers                           32768 words
//   G               link data registers (LD)                  8448 words
//   F               file registers                           32768 words
//   S               timer/counter set values (SV)             3072 words
//   V               timer/counter elapsed values (EV)         3072 words
//   H, I            index registers IX, IY                      16 words
//   0-9             index registers I0-I9                       16 words
//   M N O P Q U     index registers IA-IF                       16 words
// (an index register is one word at address 0; the further words let a
// double-word read of one pass).
//
// Commands understood (texts between '%'/'#' and the "**" or BCC):
//   RCC<a><ssss><eeee>            a in X Y R L T C   -> $RC + words
//   WCC<a><ssss><eeee><data>      a in Y R L         -> $WC
//   WCS<a><www><b><v>             a in Y R L (www decimal word, b hex bit,
//                                 v 0 or 1)          -> $WC
//   RD<a><sssss><eeeee>           a in D L F         -> $RD + words
//   WD<a><sssss><eeeee><data>     a in D L F         -> $WD
//   RDI<r><sssss><eeee|eeeee>     r in X Y 0-9 A-F   -> $RD + words
//   WDI<r><sssss><eeee|eeeee><data>                  -> $WD
//   RS/RK<ssss><eeee>             set / elapsed values -> $RS / $RK + words
//   WS/WK<ssss><eeee><data>       -> $WS / $WK
// Data: 4 upper-case hex characters per word, low byte's digits first.
// WR is the system-register write, which a PLC does not take from here:
// "WRL..." is refused with 42 like every other unknown command (link data
// registers are written with WDL).
//
// Station field: a text is answered when its two-character station field
// names the station in either form, hexadecimal ("0A" for 10) or decimal
// ("10"), or is "EE"; otherwise no answer is sent. Answers write the
// station in the form the station is set to (hexadecimal by default;
// decimal only goes up to 99, a higher number is written in hex). A strict
// station, as a unit set to one form, takes a text only when its field is
// in the form the station writes, or "EE": station 10 set to decimal does
// not answer "%0A#..." (stations 1-9 read the same in both forms).
//
// Answers: positive "%" NN "$" CC data BCC CR; negative "%" NN "!" EE BCC CR
// with EE:
//   27  text over 118 characters (before the CR)
//   40  wrong block check code (a text may end in "**" instead)
//   41  format error: wrong field widths, non-digits, data length mismatch,
//       no '%' or '#', a station field that is not two characters
//   42  unknown command or memory area (WR included)
//   43  next-part request ("%NN**&" CR) with no answer in parts pending
//   61  address out of range, or start above end
//   65  write to a read-only area (X, T, C)
// A read of more than kMaxReadWords words is refused with 61 (the answer
// text would not fit the unit's 2048-character answer buffer).
//
// Answers in parts. A station set to split answers (SetSplit, --split N)
// sends a positive answer whose text, CR included, is longer than N
// characters in parts of at most N characters: the first "%NN$CC" + data +
// BCC + "&" CR, the further ones "%NN" + data + BCC + "&" CR, the last one
// ending in BCC CR alone; each BCC covers its own part from '%' on. The
// host asks for each next part with "%NN**&" CR (the "**" may be the BCC of
// "%NN"). Any other request discards the parts still pending.
//
// The answer carries its own 12-byte header: 0x10 0x00, the text length
// (little-endian), six 0x00, then the request's source and destination
// station bytes swapped.
//
// Faults (see Faults; etlan-sim's options in options.cpp): delayed
// answers, answers in pieces, dropped or negative answers, a connection
// closed after each request, refused or never-accepted connections, stray
// bytes before an answer, oversized answers, a wrong station number,
// garbage, faults of answers in parts, every answer sent twice (the same
// bytes again some time after the first copy), and answers ending in CR LF
// (the LF after the text, outside the length the header gives). A station
// serves its connections one request at a time: while it waits out a
// delay or the time before a second copy it reads nothing else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace etl::sim {

// The CPU whose memory sizes the simulator plays.
enum class Model { kGenerous, kFp2, kFp3, kFp5 };

// How a station writes its own number in its answers.
enum class StationField { kHex, kDecimal };

// The longest read answered (words): 509 words of data make an answer text
// of 2045 characters, CR included.
constexpr int kMaxReadWords = 509;

// Faults of one station; all off by default. Counts (dropAnswers,
// negativeAnswers) go down by one per request they affect; -1 means
// every request.
struct Faults {
    int delayMs = 0;              // wait this long before each answer
    int duplicateAfterMs = -1;    // >=0: every answer is sent again, the same
                                  // bytes, this long after the first copy
    bool crlf = false;            // an LF follows the CR of every answer text
                                  // (each part too), in the same send; the
                                  // header's length counts the CR, not the LF
    int pieceBytes = 0;           // >0: send answers in pieces of this size ...
    int piecePauseMs = 0;         // ... with this pause between pieces
    int dropAnswers = 0;          // read the next N requests, answer none (-1: all)
    int negativeAnswers = 0;      // answer the next N requests negatively ...
    int negativeCode = 42;        // ... with this error code
    bool closeAfterRequest = false;  // every request: read it, then close the
                                     // connection without answering
    bool refuseConnections = false;  // no listener: connects are refused, and
                                     // open connections are dropped
    bool neverAccept = false;        // listener whose accept queue is full:
                                     // new connects hang
    std::string strayBytes;       // sent before each answer (before its header)
    bool oversizedAnswer = false; // a positive answer of 3000 bytes, whatever was asked
    int wrongStation = -1;        // >=0: answers carry this station number
    bool garbage = false;         // answers are bytes that are not MEWTOCOL at all

    // Faults of an answer in parts (apply when the answer is split, see SetSplit/--split):
    enum class PartFault { kNone, kBadBcc, kExtraPart, kMissingPart, kPartNeverComes, kTruncatedPart };
    PartFault partFault = PartFault::kNone;
    int partFaultAt = 2;   // the part (1 = first) the fault hits
    bool refuseNewConnections = false;  // listener closed, but open connections stay (a unit that keeps a dropped connection's slot)
    // kBadBcc         that part carries a wrong BCC
    // kExtraPart      the real last part ends in "&", and one more part of
    //                 four data characters ("0000") follows when asked for
    // kMissingPart    that part is sent as the last one (BCC CR); the rest
    //                 never comes
    // kPartNeverComes the request for that part (for part 1: the command)
    //                 is read but never answered; the rest is discarded
    // kTruncatedPart  that part loses its last 4 data characters, its BCC
    //                 covering what is sent; the following parts are normal
    // None of them does anything to an answer in fewer parts than
    // partFaultAt, or not in parts at all.
};

// "generous", "fp2", "fp3", "fp5" (any case) to the model; false otherwise.
bool ParseModel(std::string_view name, Model* model);
const char* ModelName(Model model);

// The memory image, 16-bit words per memory key (see above).
class Memory {
public:
    explicit Memory(Model model = Model::kGenerous);
    Model model() const { return model_; }
    // One past the highest valid word address of the key's area, 0 when the
    // model has no such area or the key is not a memory key.
    int Size(char key) const;
    // True when every word from first to last is a valid address of the
    // area (within one of its ranges).
    bool Valid(char key, int first, int last) const;
    // Reads outside the valid addresses give 0; writes there are ignored.
    std::uint16_t Get(char key, int address) const;
    void Set(char key, int address, std::uint16_t value);

private:
    Model model_;
    std::vector<std::uint16_t> words_[128];  // indexed by the key
};

// The command interpreter: one MEWTOCOL-COM text (from "%" to the CR, the
// CR may be missing) in, the answer text (CR included) out, or an empty
// text when the station does not answer (another station's number, or
// with strict the station's number in the form it does not take).
// Writes change memory. Pure: no I/O, no globals, any input is safe. It
// keeps no parts: a next-part request is answered with 43 (the stations
// serve pending parts themselves, see IsNextPartRequest).
std::string Execute(Memory& memory, int station, std::string_view text,
                    StationField field = StationField::kHex, bool strict = false);

// True when the station field of a text (its two characters after '%')
// names the station as Execute takes it: EE, or the number in either
// form, with strict only in the form the station writes.
bool NamesStation(int station, std::string_view text, StationField field = StationField::kHex,
                  bool strict = false);

// True when the text (CR optional) is a next-part request "%NN**&" for
// this station (its field as NamesStation takes it).
bool IsNextPartRequest(int station, std::string_view text, StationField field = StationField::kHex,
                       bool strict = false);

// The station number as an answer writes it: "0A" or "10" for station 10.
std::string StationText(int station, StationField field);

// The parts a PLC sends for an answer text (CR included) longer than
// `limit` characters, each part CR included, with a part fault applied (an
// empty part: that part's request is never answered). One part, the text
// itself, when the text fits, is not positive, or limit < 12.
std::vector<std::string> SplitAnswer(std::string_view answer, int limit,
                                     Faults::PartFault fault = Faults::PartFault::kNone,
                                     int faultAt = 2);

// Block check code: XOR of the characters.
std::uint8_t Bcc(std::string_view text);

// One line of the form "D100=1234", "R10=0x0020", "LD5=-1", "IX=7",
// "D200=0x12345678" (a value above 0xFFFF fills two words, low word first).
// Area names: the memory keys, or LD, IX, IY, I0-I9, IA-IF, SV, EV; a name
// "I" followed by a digit is an index register (I5 is I5, use IY for key I).
// Returns false (memory unchanged) when the line is not of that form.
bool SetFromText(Memory& memory, std::string_view line);

// Told what the stations' connections carry (Simulator::SetRecorder), as
// it happens, from the stations' threads: an implementation serialises.
// A connection is named by the client's port and the station's port.
class Recorder {
public:
    virtual ~Recorder() = default;
    // A station accepted a connection.
    virtual void Opened(std::uint16_t clientPort, std::uint16_t stationPort) = 0;
    // Bytes as one receive returned them (fromClient) or one send took them.
    virtual void Carried(std::uint16_t clientPort, std::uint16_t stationPort, bool fromClient,
                         std::string_view bytes) = 0;
    // The connection ended: the client closed it (byClient) or the station.
    virtual void Closed(std::uint16_t clientPort, std::uint16_t stationPort, bool byClient) = 0;
};

// The simulator: stations, each on its own 127.0.0.1 port with a thread of
// its own. Thread-safe: every call may come from any thread while running.
class Simulator {
public:
    explicit Simulator(Model model = Model::kGenerous);
    ~Simulator();  // stops everything
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Adds station 1..255 on the port (0 = ephemeral) and binds it at once;
    // returns the bound port, or -1 (port in use, station already added or
    // out of range). Stations added after Start() are served at once.
    int AddStation(int station, std::uint16_t port = 0);
    std::uint16_t Port(int station) const;  // 0 when unknown

    // Starts serving; false when a station could not listen.
    bool Start();
    // Closes all connections and listeners; Start() may follow again.
    void Stop();

    // Replaces the station's faults for every later request (an answer
    // already waiting out its delay keeps it). When the call returns, the
    // listener is in the state refuseConnections / neverAccept ask for.
    void SetFaults(int station, const Faults& faults);
    Faults GetFaults(int station) const;  // with the counts as they stand now

    // Replaces the shared memory image with a fresh one (all zero) of the
    // model's sizes.
    void SetModel(Model model);
    Model GetModel() const;

    // Answers of the station whose text, CR included, is longer than chars
    // go in parts (0: whole answers, the default). Applies from the next
    // command on.
    void SetSplit(int station, int chars);
    // How the station writes its number in answers (default kHex); with
    // strict it takes only texts whose station field is in that form (or
    // EE), and reads the others as texts for another station.
    void SetStationField(int station, StationField field, bool strict = false);

    // The shared memory image.
    std::uint16_t Word(char key, int address) const;
    void SetWord(char key, int address, std::uint16_t value);
    bool SetFromText(std::string_view line);

    int Requests(int station) const;            // frames received so far
    std::string LastRequest(int station) const;  // the last frame, header included
    int Accepted(int station) const;            // connections accepted so far
    int Open(int station) const;                // connections open now

    // Drops every connection of the station, as a restarted PLC does
    // (a pending answer is abandoned); the listener stays and memory is
    // kept. The connections are closed when the call returns.
    void RestartStation(int station);

    // Logs each request and answer to stderr, and what the station does
    // instead of answering.
    void SetVerbose(bool on);
    // Writes every frame received and sent to `out` (not owned; standard
    // error by default) as etlan --trace does (tools/common/frame_text.h):
    // local time, "->" a request the station receives, "<-" what it sends,
    // "==" the connection's events and what the station does instead of
    // answering, each with "st NN", the 12-byte header in hex and the text.
    void SetTrace(bool on, std::FILE* out = stderr);
    // Reports every connection, its bytes and its end to the recorder (not
    // owned; set it before Start, and keep it until Stop or the destructor
    // has returned).
    void SetRecorder(Recorder* recorder);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace etl::sim
