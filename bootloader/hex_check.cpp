#include "bootloader/hex_check.h"

#include <cstring>

#include "platform.h"

namespace {

// ':' and the hex digits of count, address, type, 255 data bytes and checksum.
const std::size_t longestRecord = 1 + 2 * (1 + 2 + 1 + 255 + 1);

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool isTrailingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// One line, gathered piece by piece with bounded memory: the record's
// characters are kept, blanks after it only counted.
struct LineState {
    char record[longestRecord + 1];
    std::size_t length;
    std::size_t trailingBlanks;
    bool bad;
};

void startLine(LineState &line)
{
    line.length = 0;
    line.trailingBlanks = 0;
    line.bad = false;
}

void addCharacter(LineState &line, char c)
{
    if (line.bad)
        return;
    if (isTrailingBlank(c)) {
        ++line.trailingBlanks;
        return;
    }
    if (line.trailingBlanks > 0 || line.length == longestRecord) {
        line.bad = true;
        return;
    }
    line.record[line.length++] = c;
}

bool lineIsGood(const LineState &line)
{
    return !line.bad && isWellFormedRecord(line.record, line.length);
}

} // namespace

bool isEndOfFileRecord(const char *piece)
{
    static const char endRecord[] = ":00000001FF";
    for (int i = 0; i < 11; ++i) {
        if (upper(piece[i]) != endRecord[i])
            return false;
    }
    return true;
}

bool isWellFormedRecord(const char *text, std::size_t length)
{
    while (length > 0 && isTrailingBlank(text[length - 1]))
        --length;
    if (length == 0)
        return true;
    if (text[0] != ':' || length < 11 || (length - 1) % 2 != 0)
        return false;

    unsigned sum = 0;
    std::size_t bytes = (length - 1) / 2;
    for (std::size_t i = 0; i < bytes; ++i) {
        int high = hexValue(text[1 + 2 * i]);
        int low = hexValue(text[2 + 2 * i]);
        if (high < 0 || low < 0)
            return false;
        sum += unsigned(high * 16 + low);
    }
    unsigned declared = unsigned(hexValue(text[1]) * 16 + hexValue(text[2]));
    // count, address (2), type, data, checksum
    if (bytes != declared + 5)
        return false;
    return (sum & 0xFF) == 0;
}

HexCheck checkHexPieces(FILE *file)
{
    HexCheck check = {hexCheckNoEndRecord, 0};
    LineState line;
    startLine(line);
    std::uint32_t lineNumber = 1;
    bool atLineStart = true;
    char piece[hexPieceLimit + 2];

    for (;;) {
        // Filled with a byte other than NUL, the buffer shows where the read
        // stopped: its last NUL. A NUL before that is one read from the file,
        // which would cut short what the transfer sends.
        std::memset(piece, 0xFF, sizeof piece);
        if (!readTextLine(piece, hexPieceLimit, file)) {
            // A last line without a line end is still a line to judge.
            if (!atLineStart && !lineIsGood(line)) {
                check.result = hexCheckBadRecord;
                check.badLine = lineNumber;
            }
            return check;
        }
        std::size_t length = hexPieceLimit - 1;
        while (length > 0 && piece[length] != 0)
            --length;
        if (std::strlen(piece) != length)
            line.bad = true;
        if (atLineStart && !line.bad && isEndOfFileRecord(piece)) {
            check.result = hexCheckOk;
            return check;
        }
        bool endsLine = length > 0 && piece[length - 1] == '\n';
        std::size_t characters = endsLine ? length - 1 : length;
        for (std::size_t i = 0; i < characters; ++i)
            addCharacter(line, piece[i]);
        atLineStart = endsLine;
        if (endsLine) {
            if (!lineIsGood(line)) {
                check.result = hexCheckBadRecord;
                check.badLine = lineNumber;
                return check;
            }
            ++lineNumber;
            startLine(line);
        }
    }
}
