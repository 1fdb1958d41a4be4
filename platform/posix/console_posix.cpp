// The console keyboard on a POSIX terminal: one key press without echo and
// without Enter, as the Windows console gives it.
#include "platform.h"

#include <cerrno>
#include <csignal>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const int escapeByte = 0x1B;
// The bytes of one function or arrow key arrive together; a byte later than
// this after the previous one belongs to the next key press.
const int sequenceGapMs = 50;

const int restoredSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int restoredSignalCount = int(sizeof restoredSignals / sizeof restoredSignals[0]);

termios keptSettings;

// Puts the terminal back before the signal ends the program, so that the
// shell does not inherit a terminal without echo.
void restoreAndRaise(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &keptSettings);
    struct sigaction standard;
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    standard.sa_flags = 0;
    sigaction(signalNumber, &standard, nullptr);
    raise(signalNumber);
}

// One byte of input, or -1 at end of input, on an error, or when no byte
// came within waitMs (a negative waitMs waits as long as it takes).
int readByte(int waitMs)
{
    for (;;) {
        pollfd entry = {STDIN_FILENO, POLLIN, 0};
        int ready = poll(&entry, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return -1;
        unsigned char byte = 0;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1)
            return byte;
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return -1;
    }
}

// Reads what is left of an escape sequence after its ESC: "ESC [ ... final"
// (the Linux console adds "ESC [ [ letter" for F1 to F5), "ESC O letter",
// or one byte after ESC for a key pressed with Alt.
void swallowEscapeSequence()
{
    int introducer = readByte(sequenceGapMs);
    if (introducer == '[') {
        int byte = readByte(sequenceGapMs);
        if (byte == '[') {
            readByte(sequenceGapMs);
            return;
        }
        // Parameter and intermediate bytes run until a final byte.
        while (byte >= 0x20 && byte <= 0x3F)
            byte = readByte(sequenceGapMs);
    } else if (introducer == 'O') {
        readByte(sequenceGapMs);
    }
}

} // namespace

void discardPendingKeys()
{
    if (isatty(STDIN_FILENO))
        tcflush(STDIN_FILENO, TCIFLUSH);
}

int readKeyPress()
{
    if (!isatty(STDIN_FILENO)) {
        int c = std::getchar();
        return c == EOF ? -1 : c;
    }

    std::fflush(stdout);
    termios settings;
    if (tcgetattr(STDIN_FILENO, &settings) != 0)
        return -1;
    keptSettings = settings;

    struct sigaction restoring;
    restoring.sa_handler = restoreAndRaise;
    sigemptyset(&restoring.sa_mask);
    restoring.sa_flags = 0;
    struct sigaction previous[restoredSignalCount];
    for (int i = 0; i < restoredSignalCount; ++i)
        sigaction(restoredSignals[i], &restoring, &previous[i]);

    settings.c_lflag &= ~tcflag_t(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    int key = -1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0) {
        key = readByte(-1);
        if (key == escapeByte)
            swallowEscapeSequence();
    }

    tcsetattr(STDIN_FILENO, TCSANOW, &keptSettings);
    for (int i = 0; i < restoredSignalCount; ++i)
        sigaction(restoredSignals[i], &previous[i], nullptr);
    return key;
}
