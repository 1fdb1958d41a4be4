#include "app/frontend.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "app/programming_run.h"
#include "bootloader/replies.h"
#include "platform.h"
#include "serial/comm_port.h"

namespace {

const int firstProbedPort = 1;
const int lastProbedPort = 99;
const int answerBufferSize = 20;

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The option letter of an argument: its second character, upper-cased; an
// argument of fewer than two characters has none.
char optionLetter(const char *argument)
{
    if (argument[0] == 0)
        return 0;
    return upper(argument[1]);
}

// A signed decimal number: leading white space, an optional sign, then
// digits up to the first other character; no digits give 0, and a value
// beyond the signed 32-bit range is clamped to it.
std::int32_t parseNumber(const char *text)
{
    while (isSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    long long value = 0;
    for (; isDigit(*text); ++text) {
        if (value <= (long long)INT_MAX + 1)
            value = value * 10 + (*text - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return (std::int32_t)value;
}

// "/B1.2": a digit, a full stop, a digit from the third character on.
bool parseMinimumBootloader(const char *argument)
{
    if (std::strlen(argument) < 5 || !isDigit(argument[2]) || argument[3] != '.' || !isDigit(argument[4]))
        return false;
    minBootloaderMajor = (std::uint8_t)(argument[2] - '0');
    minBootloaderMinor = (std::uint8_t)(argument[4] - '0');
    return true;
}

} // namespace

void printBanner()
{
    std::printf("\nRQX / HWN Flash Downloader Program for Windows V1.14\n");
    std::printf("(c) 2008-2026 The korvanel developers, free to use for servicing chargers\n");
    std::printf("\n");
}

void printUsage()
{
    std::printf("\nKorvanel Usage:\n");
    std::printf("/V For Version Only\n");
    std::printf("FileName To Program\n");
    std::printf("/C To specify Comm Port\n");
    std::printf("\nExamples:\n");
    std::printf("\nKorvanel /V /C2             to get Version using Com2\n");
    std::printf("Korvanel a:\\QEv170.hex /C1  to program using Com1\n");
    std::printf("Korvanel a:\\QEv170.hex      to program, Ask for Com Port Number\n\n");
}

void waitForAnyKey()
{
    discardPendingKeys();
    std::printf("Press Any Key to Continue");
    std::fflush(stdout);
    readKeyPress();
}

std::int32_t choosePort()
{
    CommPort probe = makeCommPort();
    bool first = true;

    std::printf("Free COM port(s) detected: ");
    std::fflush(stdout);
    for (int number = firstProbedPort; number <= lastProbedPort; ++number) {
        probe.portNumber = (std::uint16_t)number;
        if (openPort(probe) == 0) {
            std::printf(first ? "%d" : ", %d", number);
            std::fflush(stdout);
            first = false;
        }
        closePort(probe);
    }
    std::printf("\n\n");
    std::printf("Enter COM Port number, follow by ENTER > ");
    std::fflush(stdout);

    char answer[answerBufferSize];
    // No line at all (end of input) counts as an answer without digits.
    if (!std::fgets(answer, sizeof answer, stdin))
        return 0;
    return parseNumber(answer);
}

int korvanelMain(int argc, char **argv)
{
    CommPort port = makeCommPort();
    bool waitAtExit = true;
    int exitCode = 9;
    minBootloaderCheck = 0;
    minBootloaderMajor = 0;
    minBootloaderMinor = 0;

    printBanner();

    std::int32_t number = 0;
    if (argc < 3) {
        number = choosePort();
    } else {
        const char *option = argv[2];
        switch (optionLetter(option)) {
        case 'C':
            number = parseNumber(option + 2);
            break;
        case 'B':
            minBootloaderCheck = 1;
            if (!parseMinimumBootloader(option)) {
                std::printf("BootloaderTest parse failed %s\n", option + 1);
                minBootloaderCheck = 0;
            }
            number = choosePort();
            break;
        case 'T':
            // Only the one character after the letter is the port: 0 to 9.
            waitAtExit = false;
            number = (std::int32_t)(signed char)option[2] - 48;
            break;
        default:
            number = choosePort();
            break;
        }
    }
    port.portNumber = (std::uint16_t)(number & 0xFFFF);
    std::printf("Using Serial Port COM %d\n", (int)port.portNumber);

    if (argc < 2) {
        printUsage();
        exitCode = 9;
    } else if (optionLetter(argv[1]) == 'V') {
        exitCode = queryVersion(port);
    } else {
        exitCode = runProgramming(port, argv[1]);
    }

    if (waitAtExit)
        waitForAnyKey();
    std::fflush(stdout);
    return exitCode;
}
