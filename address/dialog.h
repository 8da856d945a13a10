// The "Tag Format" dialog (function code 16): the user composes a tag's
// address text from the gate kind, PLC number, memory type, address and,
// for digital tags, the bit. BrowseAddress itself is declared in
// host/operations.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "address/dialog_ids.h"
#include "platform/dialog_ui.h"

namespace etl {

// What the dialog procedure collects and BrowseAddress turns into the
// address text. One per dialog run: BrowseAddress owns it and hands it to
// the dialog as its initialisation parameter.
struct AddressDialogState {
    char gateKind[50];     // name of the selected gate kind
    char plcNumber[3];     // two decimal digits
    char memoryCode[2];    // one character, from MemoryCodeMap
    char addressText[6];   // four or five decimal digits
    char bitText[2];       // "0" to "F"
    bool fiveDigitMode;    // memory code D, G or F
    bool bitMode;          // gate kind "Digital gate"
};

// The dialog template as data, with the same controls as resource 101 of
// the Windows build (address/dialog.rc).
extern const plat::DialogLayout kTagFormatLayout;

std::intptr_t ETL_DIALOG_CALL AddressDialogProc(plat::DlgWindow dialog, std::uint32_t message,
                                                std::uintptr_t wParam, std::intptr_t lParam);

// Fills the memory type list for a gate kind, enables or disables the bit
// list and sets the bit mode of the dialog's state.
void FillMemoryList(plat::DlgWindow dialog, const char* gateKind);

// Rewrites an address text with leading zeros: 4 digits, or 5 in five-digit
// mode, for 0..9999; five digits for 10000..99999; "0" for a negative value
// or one above 99999. The text's leading decimal number counts (0 when there
// is none). capacity is the size of the buffer (at least 6 for every result).
void PadAddress(char* text, std::size_t capacity, bool fiveDigitMode);

// The one-character memory code of a memory type entry, from the entry's
// first two characters ("Y " gives 'Y', "LD" gives 'G', "IF" gives 'U');
// '\0' when the entry names no known memory type.
char MemoryCodeMap(const char* entryText);

// True for the memory codes whose addresses have five digits (D, G, F).
bool TakesFiveDigits(char memoryCode);

}  // namespace etl
