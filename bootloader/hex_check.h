// The check made before a charger is erased: the HEX file must reach its
// end-of-file record through well-formed records, read in exactly the pieces
// the transfer will send.
#ifndef KORVANEL_HEX_CHECK_H
#define KORVANEL_HEX_CHECK_H

#include <cstdint>

// The most characters of one piece sent to the charger, and the limit given
// to the text-mode line read (the piece and its NUL).
const int hexPieceLimit = 100;

enum HexCheckResult { hexCheckOk, hexCheckNoEndRecord, hexCheckBadRecord, hexCheckUnreadable };

struct HexCheck {
    HexCheckResult result;
    std::uint32_t badLine; // line of the first bad record, counted from 1
};

// True when the piece is the end-of-file record, by its first 11 characters
// without regard to case.
bool isEndOfFileRecord(const char *piece);

// True when one line (without its line end) is empty or a well-formed Intel
// HEX record; trailing blanks and tabs are allowed.
bool isWellFormedRecord(const char *text, std::size_t length);

HexCheck checkHexFile(const char *fileName);

#endif
