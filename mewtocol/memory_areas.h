// The memory areas of the PLC: the memory letter of a tag, the MEWTOCOL-COM
// commands that read and write the area, the digits of its address fields
// and the area's name. One table for the driver's commands and for the
// tools that show a tag in words.
#pragma once

namespace etl {

struct MemoryArea {
    char key;          // memory letter of the tag; '\0' ends the table
    char read[5];      // read command, e.g. "RDD"
    char write[5];     // write command, empty when the area is read-only
    int width;         // digits of an address field: 4 or 5
    const char* name;  // the PLC's name of the area, e.g. "LD"
    const char* kind;  // what it holds, e.g. "data link register"
};

// 29 entries (X to U, with the index registers I0-I9 under the keys 0-9)
// and the end marker. An empty write command marks an area that cannot be
// written. G (data link registers, LD) is written with the data-area write
// "WDL": "WRL" would be the write of the PLC's system registers.
inline constexpr MemoryArea MemoryAreaTable[] = {
    {'X', "RCCX", "", 4, "X", "external input relay"},
    {'Y', "RCCY", "WCCY", 4, "Y", "external output relay"},
    {'R', "RCCR", "WCCR", 4, "R", "internal relay"},
    {'L', "RCCL", "WCCL", 4, "L", "link relay"},
    {'G', "RDL", "WDL", 5, "LD", "data link register"},
    {'D', "RDD", "WDD", 5, "D", "data register"},
    {'T', "RCCT", "", 4, "T", "timer contact"},
    {'C', "RCCC", "", 4, "C", "counter contact"},
    {'V', "RK", "WK", 4, "EV", "elapsed value"},
    {'S', "RS", "WS", 4, "SV", "set value"},
    {'F', "RDF", "WDF", 5, "F", "file register"},
    {'H', "RDIX", "WDIX", 5, "IX", "index register"},
    {'I', "RDIY", "WDIY", 5, "IY", "index register"},
    {'0', "RDI0", "WDI0", 5, "I0", "index register"},
    {'1', "RDI1", "WDI1", 5, "I1", "index register"},
    {'2', "RDI2", "WDI2", 5, "I2", "index register"},
    {'3', "RDI3", "WDI3", 5, "I3", "index register"},
    {'4', "RDI4", "WDI4", 5, "I4", "index register"},
    {'5', "RDI5", "WDI5", 5, "I5", "index register"},
    {'6', "RDI6", "WDI6", 5, "I6", "index register"},
    {'7', "RDI7", "WDI7", 5, "I7", "index register"},
    {'8', "RDI8", "WDI8", 5, "I8", "index register"},
    {'9', "RDI9", "WDI9", 5, "I9", "index register"},
    {'M', "RDIA", "WDIA", 5, "IA", "index register"},
    {'N', "RDIB", "WDIB", 5, "IB", "index register"},
    {'O', "RDIC", "WDIC", 5, "IC", "index register"},
    {'P', "RDID", "WDID", 5, "ID", "index register"},
    {'Q', "RDIE", "WDIE", 5, "IE", "index register"},
    {'U', "RDIF", "WDIF", 5, "IF", "index register"},
    {'\0', "", "", 0, "", ""},
};

// Index of the first entry whose key is letter (a character code 0..255),
// or -1; the end marker never matches.
constexpr int FindMemoryArea(int letter) {
    for (int i = 0; MemoryAreaTable[i].key != '\0'; ++i) {
        if (MemoryAreaTable[i].key == letter) return i;
    }
    return -1;
}

// The area of a memory letter, or nullptr.
constexpr const MemoryArea* MemoryAreaOf(int letter) {
    const int i = FindMemoryArea(letter);
    return i < 0 ? nullptr : &MemoryAreaTable[i];
}

}  // namespace etl
