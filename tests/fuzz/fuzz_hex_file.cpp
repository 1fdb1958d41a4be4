// A HEX file's bytes, as the transfer reads them and as the check before the
// erase judges them.
//
// - readTextLine gives exactly the text-mode pieces: the file up to its
//   first Ctrl-Z, each CR LF pair as one LF, cut after each LF and after
//   99 characters, each piece NUL-terminated, nothing written past it.
// - When checkHexPieces passes the file, programFlash with a charger that
//   answers every piece succeeds, and the charger receives "erase\r" and then
//   exactly the pieces up to and including the end-of-file record.
// - When it refuses the file, programFlash fails and nothing at all reaches
//   the port: the charger keeps its firmware.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bootloader/flash.h"
#include "bootloader/hex_check.h"
#include "fuzz_support.h"
#include "platform.h"

namespace {

const int portNumber = 4;
const unsigned char unwritten = 0xA5;
std::string hexPath;

// The pieces a text-mode reader with room for 99 characters gives.
std::vector<std::string> textModePieces(const std::uint8_t *data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size && data[i] != 0x1A; ++i) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            continue;
        text += char(data[i]);
    }
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        piece += c;
        if (c == '\n' || piece.size() == std::size_t(hexPieceLimit - 1)) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

// The bytes as a file; the vector outlives the stream.
FILE *openBytes(std::vector<char> &bytes)
{
    std::size_t size = bytes.size();
    bytes.push_back(0); // a valid pointer even for no bytes
    FILE *file = fmemopen(bytes.data(), size, "r");
    FUZZ_CHECK(file, "fmemopen");
    return file;
}

void checkLineReading(const std::uint8_t *data, std::size_t size, const std::vector<std::string> &pieces)
{
    std::vector<char> bytes(data, data + size);
    FILE *file = openBytes(bytes);

    unsigned char buffer[hexPieceLimit + 28];
    for (std::size_t n = 0; n <= pieces.size() + 1; ++n) {
        std::memset(buffer, unwritten, sizeof buffer);
        char *got = readTextLine((char *)buffer, hexPieceLimit, file);
        std::string where = "piece " + std::to_string(n + 1) + " of " + std::to_string(pieces.size());
        if (n >= pieces.size()) {
            // At the end, and at a Ctrl-Z, every further read gives nothing.
            FUZZ_CHECK(got == nullptr, where + ": read past the end: " + escaped((const char *)buffer));
            continue;
        }
        const std::string &expected = pieces[n];
        FUZZ_CHECK(got == (char *)buffer, where + ": nothing read, expected " + escaped(expected));
        FUZZ_CHECK(std::memcmp(buffer, expected.data(), expected.size()) == 0 && buffer[expected.size()] == 0,
                   where + ": got " + escaped(std::string((const char *)buffer, expected.size() + 1)) +
                       ", expected " + escaped(expected));
        for (std::size_t i = expected.size() + 1; i < sizeof buffer; ++i)
            FUZZ_CHECK(buffer[i] == unwritten, where + ": byte " + std::to_string(i) + " written past the piece");
    }
    std::fclose(file);
}

HexCheck checkPieces(const std::uint8_t *data, std::size_t size)
{
    std::vector<char> bytes(data, data + size);
    FILE *file = openBytes(bytes);
    HexCheck check = checkHexPieces(file);
    std::fclose(file);
    return check;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietConsole();
    hexPath = scratchDirectory() + "/firmware.hex";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The whole input as one line, in a buffer of exactly its size.
    std::vector<char> line(data, data + size);
    isWellFormedRecord(line.data(), line.size());

    std::vector<std::string> pieces = textModePieces(data, size);
    checkLineReading(data, size, pieces);

    HexCheck check = checkPieces(data, size);
    FUZZ_CHECK(check.result == hexCheckOk || check.result == hexCheckNoEndRecord || check.result == hexCheckBadRecord,
               "result " + std::to_string(int(check.result)));

    // What the transfer should send: every piece up to the first end-of-file
    // record that starts a line.
    std::string expected = "erase\r";
    bool endFound = false;
    bool atLineStart = true;
    for (const std::string &piece : pieces) {
        expected += piece;
        if (atLineStart && startsWithEndRecord(piece)) {
            endFound = true;
            break;
        }
        atLineStart = piece.back() == '\n';
    }
    if (check.result == hexCheckOk)
        FUZZ_CHECK(endFound, "the check passed a file without an end-of-file record");
    if (check.result == hexCheckBadRecord)
        FUZZ_CHECK(check.badLine >= 1, "bad record on line 0");

    writeWholeFile(hexPath, data, size);
    fakeReset();
    fakeAddPort(portNumber);
    fakeSetResponder(answerLikeACharger);
    CommPort port = makeCommPort();
    port.portNumber = portNumber;
    int result = programFlash(port, hexPath.c_str());
    const std::string &written = fakeWritten(portNumber);

    std::string detail = "check " + std::to_string(int(check.result)) + " line " + std::to_string(check.badLine) +
                         ", programFlash " + std::to_string(result) + "\nwritten:  " + escaped(written) +
                         "\nexpected: " + escaped(expected) + "\n" + fakeLogTail();
    if (check.result == hexCheckOk) {
        FUZZ_CHECK(result == 0, detail);
        FUZZ_CHECK(written == expected, detail);
    } else {
        FUZZ_CHECK(result == 1, detail);
        FUZZ_CHECK(written.empty(), detail);
    }
    FUZZ_CHECK(fakeOpenHandles() == 0, detail);
    FUZZ_CHECK(fakeMisuseCount() == 0, detail);
    fakeSetResponder(FakeResponder());
    return 0;
}
