// The memory areas of the PLC: the memory letter of a tag, the MEWTOCOL-COM
// commands that read and write the area, and the digits of its address
// fields.
#include "mewtocol/command_builder.h"

namespace etl {

// An empty write command marks an area that cannot be written. G (data
// link registers, LD) is written with the data-area write "WDL": "WRL" would
// be the write of the PLC's system registers.
const MemoryArea MemoryAreaTable[] = {
    {'X', "RCCX", "", 4},     {'Y', "RCCY", "WCCY", 4}, {'R', "RCCR", "WCCR", 4},
    {'L', "RCCL", "WCCL", 4}, {'G', "RDL", "WDL", 5},   {'D', "RDD", "WDD", 5},
    {'T', "RCCT", "", 4},     {'C', "RCCC", "", 4},     {'V', "RK", "WK", 4},
    {'S', "RS", "WS", 4},     {'F', "RDF", "WDF", 5},   {'H', "RDIX", "WDIX", 5},
    {'I', "RDIY", "WDIY", 5}, {'0', "RDI0", "WDI0", 5}, {'1', "RDI1", "WDI1", 5},
    {'2', "RDI2", "WDI2", 5}, {'3', "RDI3", "WDI3", 5}, {'4', "RDI4", "WDI4", 5},
    {'5', "RDI5", "WDI5", 5}, {'6', "RDI6", "WDI6", 5}, {'7', "RDI7", "WDI7", 5},
    {'8', "RDI8", "WDI8", 5}, {'9', "RDI9", "WDI9", 5}, {'M', "RDIA", "WDIA", 5},
    {'N', "RDIB", "WDIB", 5}, {'O', "RDIC", "WDIC", 5}, {'P', "RDID", "WDID", 5},
    {'Q', "RDIE", "WDIE", 5}, {'U', "RDIF", "WDIF", 5}, {'\0', "", "", 0},
};

int FindMemoryArea(int letter) {
    for (int i = 0; MemoryAreaTable[i].key != '\0'; ++i) {
        if (MemoryAreaTable[i].key == letter) return i;
    }
    return -1;
}

}  // namespace etl
