// The check made before a charger is erased: the HEX file must reach its
// end-of-file record through well-formed records, read in exactly the pieces
// the transfer will send. A file that fails it never costs the charger its
// working firmware.
#ifndef KORVANEL_HEX_CHECK_H
#define KORVANEL_HEX_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The limit given to the text-mode line read: a piece of at most 99
// characters and its NUL.
const int hexPieceLimit = 100;

enum HexCheckResult { hexCheckOk, hexCheckNoEndRecord, hexCheckBadRecord };

struct HexCheck {
    HexCheckResult result;
    std::uint32_t badLine; // the first bad record's line, counted from 1
};

// True when the piece is the end-of-file record, by its first 11
// characters without regard to case.
bool isEndOfFileRecord(const char *piece);

// True when one line, without its line end, is empty or a well-formed
// Intel HEX record; blanks, tabs and CRs after the record are allowed.
bool isWellFormedRecord(const char *text, std::size_t length);

// Reads the text file from where it stands up to its first end-of-file
// record piece and checks every line before it.
HexCheck checkHexPieces(FILE *file);

#endif
