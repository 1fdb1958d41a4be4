// Whatever the charger sends. The first byte is the minimum bootloader
// version asked for (high and low nibble, each taken modulo 10). The rest
// is the charger's side of the conversation: each write of the program
// (the "ver" and "btv" commands, each "erase", each piece of a small good
// HEX file) is answered by the next reply of the input, made of chunks:
//   a control byte: low 5 bits the chunk's length (0 ends the reply),
//                   high 3 bits its delay after the one before (table below)
//   then that many bytes.
// The version query, the bootloader check and a whole reprogramming run in
// turn. Each gives 0 or 1 and leaves no handle open, with no misuse of the
// port calls.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bootloader/flash.h"
#include "bootloader/replies.h"
#include "fuzz_support.h"

namespace {

const int portNumber = 6;
// Around the waits of the protocol: 3 s per line, 6 s per piece, 10 s for
// the erase to start, 15 s for the version.
const unsigned long chunkDelaysMs[8] = {0, 1, 40, 400, 1500, 2990, 3020, 6100};

std::string hexPath;

// Three records, the second long enough to go out as two pieces.
const char firmware[] =
    ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
    ":40001000101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F"
    "303132333435363738393A3B3C3D3E3F404142434445464748494A4B4C4D4E4FD0\r\n"
    ":00000001FF\r\n";

struct Script {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t next;
};

Script script;

void answerFromTheScript(int port, const std::string &)
{
    unsigned long atMs = 0;
    while (script.next < script.size) {
        std::uint8_t control = script.data[script.next++];
        std::size_t length = control & 0x1F;
        if (length == 0)
            return;
        atMs += chunkDelaysMs[control >> 5];
        std::size_t available = script.size - script.next;
        if (length > available)
            length = available;
        fakeQueueRead(port, std::string((const char *)script.data + script.next, length), atMs);
        script.next += length;
    }
}

void checkOutcome(const char *operation, int result)
{
    std::string detail = std::string(operation) + " gave " + std::to_string(result) + "\n" + fakeLogTail();
    FUZZ_CHECK(result == 0 || result == 1, detail);
    FUZZ_CHECK(fakeOpenHandles() == 0, detail);
    FUZZ_CHECK(fakeMisuseCount() == 0, detail);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietConsole();
    hexPath = scratchDirectory() + "/firmware.hex";
    writeWholeFile(hexPath, firmware, sizeof firmware - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    minBootloaderCheck = 1;
    minBootloaderMajor = std::uint8_t((data[0] >> 4) % 10);
    minBootloaderMinor = std::uint8_t((data[0] & 0x0F) % 10);
    script = Script{data + 1, size - 1, 0};

    fakeReset();
    fakeAddPort(portNumber);
    fakeSetResponder(answerFromTheScript);
    CommPort port = makeCommPort();
    port.portNumber = portNumber;

    checkOutcome("queryVersion", queryVersion(port));
    checkOutcome("checkBootloaderVersion", checkBootloaderVersion(port));
    checkOutcome("programFlash", programFlash(port, hexPath.c_str()));
    fakeSetResponder(FakeResponder());
    return 0;
}
