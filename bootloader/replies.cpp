#include "bootloader/replies.h"

#include <cstdio>
#include <cstring>

std::int32_t minBootloaderCheck = 0;
std::uint8_t minBootloaderMajor = 0;
std::uint8_t minBootloaderMinor = 0;

namespace {

// Each command goes out as its four characters and three NUL bytes.
const std::uint8_t versionCommand[7] = {'v', 'e', 'r', '\r', 0, 0, 0};
const std::uint8_t bootloaderCommand[7] = {'b', 't', 'v', '\r', 0, 0, 0};

const std::int32_t versionTimeoutSeconds = 15;
const std::int32_t bootloaderTimeoutSeconds = 3;
const std::uint32_t quietAfterReplyMs = 250;
const std::uint32_t replyBufferSize = 1024;

// A command counts as sent only when every byte went out: a cut-short
// command is one the charger never received.
bool sendCommand(CommPort &port, const std::uint8_t *command, std::uint32_t size)
{
    std::uint32_t count = size;
    return writeBytes(port, command, &count) == 0 && count == size;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::uint8_t readReply(CommPort &port, char *buffer, std::uint32_t *length, std::int32_t timeoutSeconds)
{
    std::uint32_t size = *length;
    *length = size - 1;
    std::memset(buffer, 0, size - 1);
    std::fflush(stdout);

    std::uint8_t failed = readUntil(port, (std::uint8_t *)buffer, '\n', timeoutSeconds, length);
    std::uint8_t complete = 0;
    if (failed) {
        std::printf("Error: Reading Comport\n");
    } else {
        std::size_t text = std::strlen(buffer);
        complete = text >= 2 && buffer[text - 2] == '\r' && buffer[text - 1] == '\n';
    }
    if (*length < 2)
        std::printf("\nError: Timeout while waiting for response from Charger\n");
    return complete;
}

int queryVersion(CommPort &port)
{
    char reply[replyBufferSize];
    int result = 0;

    std::printf("Getting Version");
    if (openPort(port) != 0) {
        std::printf("\nError: Comm Port %u Open Failed\n", (unsigned)port.portNumber);
        result = 1;
    } else if (configureLine(port) != 0) {
        std::printf("\nError: Comm Port %u Setup Failed\n", (unsigned)port.portNumber);
        result = 1;
    } else if (!sendCommand(port, versionCommand, sizeof versionCommand)) {
        std::printf("\nError: Sending Get Version To Comm Port Failed\n");
        result = 1;
    } else {
        std::uint32_t length = sizeof reply;
        readReply(port, reply, &length, versionTimeoutSeconds);
        std::printf("\r");
        if (length < 2) {
            std::printf("Error Getting Version\n");
            result = 1;
        } else {
            std::fputs(reply, stdout);
            std::fflush(stdout);
            drainQuiet(port, quietAfterReplyMs);
        }
    }
    std::printf("\n\n");
    std::fflush(stdout);
    closePort(port);
    return result;
}

int checkBootloaderVersion(CommPort &port)
{
    char reply[replyBufferSize];
    int result = 1;
    bool unreadable = false;

    std::printf("Bootloader Version");
    if (openPort(port) != 0) {
        std::printf("\nError: Comm Port %u Open Failed\n", (unsigned)port.portNumber);
    } else if (configureLine(port) != 0) {
        std::printf("\nError: Comm Port %u Setup Failed\n", (unsigned)port.portNumber);
    } else if (!sendCommand(port, bootloaderCommand, sizeof bootloaderCommand)) {
        std::printf("\nError: Sending Get Bootloader Version To Comm Port Failed\n");
    } else {
        std::uint32_t length = sizeof reply;
        readReply(port, reply, &length, bootloaderTimeoutSeconds);
        std::printf("\r");
        if (length < 2) {
            unreadable = true;
        } else {
            std::fputs(reply, stdout);
            std::fflush(stdout);
            drainQuiet(port, quietAfterReplyMs);
            // The version stands at fixed places of the reply, whatever
            // comes before it; the cleared buffer fails a short reply.
            if (isDigit(reply[19]) && reply[20] == '.' && isDigit(reply[21])) {
                std::uint8_t major = (std::uint8_t)(reply[19] - '0');
                std::uint8_t minor = (std::uint8_t)(reply[21] - '0');
                if (major > minBootloaderMajor || (major == minBootloaderMajor && minor >= minBootloaderMinor))
                    result = 0;
            } else {
                unreadable = true;
            }
        }
    }
    if (unreadable)
        std::printf("Error Getting Bootloader Version\n");
    if (result != 0)
        std::printf("The program requires bootloader  %c.%c or greater.\n", '0' + minBootloaderMajor,
                    '0' + minBootloaderMinor);
    std::printf("\n\n");
    std::fflush(stdout);
    closePort(port);
    return result;
}
