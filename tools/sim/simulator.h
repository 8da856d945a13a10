// etlan-sim: a simulated PLC with one ET-LAN unit per station, serving
// MEWTOCOL-COM behind the 12-byte ET-LAN header on 127.0.0.1. Used by the
// tests in-process (this library) and by scripts as the etlan-sim executable.
//
// Memory. All stations serve one memory image (one word array per memory
// key, the keys of the driver's memory-area table). Word addresses 0 to
// size-1 are valid; anything above is answered with error 61:
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
//   WRL<sssss><eeeee><data>       link data as well  -> $WR
//   RDI<r><sssss><eeee|eeeee>     r in X Y 0-9 A-F   -> $RD + words
//   WDI<r><sssss><eeee|eeeee><data>                  -> $WD
//   RS/RK<ssss><eeee>             set / elapsed values -> $RS / $RK + words
//   WS/WK<ssss><eeee><data>       -> $WS / $WK
// Data: 4 upper-case hex characters per word, low byte's digits first.
// A text is answered only when its station field (2 hex digits) is the
// station's own number or "EE"; otherwise no answer is sent.
//
// Answers: positive "%" NN "$" CC data BCC CR; negative "%" NN "!" EE BCC CR
// with EE:
//   27  text over 118 characters (before the CR)
//   40  wrong block check code (a text may end in "**" instead)
//   41  format error: wrong field widths, non-digits, data length mismatch
//   42  unknown command or memory area
//   61  address out of range, or start above end
//   65  write to a read-only area (X, T, C)
// The answer carries its own 12-byte header: 0x10 0x00, the text length
// (little-endian), six 0x00, then the request's source and destination
// station bytes swapped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace etl::sim {

// Faults of one station; all off by default. Counts (dropAnswers,
// negativeAnswers) go down by one per request they affect; -1 means
// every request.
struct Faults {
    int delayMs = 0;              // wait this long before each answer
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
};

// The memory image, 16-bit words per memory key (see above).
class Memory {
public:
    Memory();
    // Number of words of the key's area, 0 when the key is not a memory key.
    int Size(char key) const;
    // Out-of-range reads give 0; out-of-range writes are ignored.
    std::uint16_t Get(char key, int address) const;
    void Set(char key, int address, std::uint16_t value);

private:
    std::vector<std::uint16_t> words_[128];  // indexed by the key
};

// The command interpreter: one MEWTOCOL-COM text (from "%" to the CR, the
// CR may be missing) in, the answer text (CR included) out, or an empty
// text when the station does not answer (another station's number).
// Writes change memory. Pure: no I/O, no globals, any input is safe.
std::string Execute(Memory& memory, int station, std::string_view text);

// Block check code: XOR of the characters.
std::uint8_t Bcc(std::string_view text);

// One line of the form "D100=1234", "R10=0x0020", "LD5=-1", "IX=7",
// "D200=0x12345678" (a value above 0xFFFF fills two words, low word first).
// Area names: the memory keys, or LD, IX, IY, I0-I9, IA-IF, SV, EV; a name
// "I" followed by a digit is an index register (I5 is I5, use IY for key I).
// Returns false (memory unchanged) when the line is not of that form.
bool SetFromText(Memory& memory, std::string_view line);

// The simulator: stations, each on its own 127.0.0.1 port with a thread of
// its own. Thread-safe: every call may come from any thread while running.
class Simulator {
public:
    Simulator();
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

    // Logs each request and answer to stderr.
    void SetVerbose(bool on);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace etl::sim
