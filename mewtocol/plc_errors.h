// The error codes a PLC sends in a negative MEWTOCOL-COM answer
// ("%" station "!" code BCC CR), with their meaning. One list for the
// driver's log, the simulator and the tools.
#pragma once

namespace etl {

struct PlcError {
    int code;
    const char* meaning;
};

inline constexpr PlcError kPlcErrors[] = {
    {21, "NACK error"},
    {22, "WACK error"},
    {23, "unit number overlap"},
    {24, "transmission format error"},
    {25, "hardware error"},
    {26, "unit number setting error"},
    {27, "command not supported or text too long"},
    {28, "no response"},
    {29, "buffer closed"},
    {30, "time-out"},
    {32, "transmission impossible"},
    {33, "communication stopped"},
    {36, "no local unit"},
    {38, "other unit's hardware error"},
    {40, "block check code error"},
    {41, "format error"},
    {42, "command not supported"},
    {43, "multiple-frame procedure error"},
    {50, "link setting error"},
    {51, "transmission time-out"},
    {52, "transmission or reception error"},
    {53, "busy"},
    {60, "parameter error"},
    {61, "data error: address or value out of range"},
    {62, "registration error"},
    {63, "PLC mode error"},
    {64, "external memory error"},
    {65, "protect error"},
    {66, "address error"},
    {67, "missing data"},
    {68, "cannot be rewritten"},
};

// The meaning of a code; "unknown error" for a code not in the list.
constexpr const char* PlcErrorText(int code) {
    for (const PlcError& e : kPlcErrors) {
        if (e.code == code) return e.meaning;
    }
    return "unknown error";
}

}  // namespace etl
