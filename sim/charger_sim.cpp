// charger-sim: plays a charger's bootloader on a pseudo-terminal, so that
// korvanel can be run end to end with no charger on the bench.
//
// The simulator links DIR/comN to the slave side of a pseudo-terminal and
// answers on the master side. It keeps a slave descriptor of its own open
// (and never reads from it) so that the terminal lives on while korvanel
// opens and closes the port again and again.
//
// One thread, one ppoll() loop: what the charger says is queued with the time
// it is due, and the loop sleeps until the next byte is due or korvanel
// writes something. Signals are blocked outside ppoll(), so a SIGTERM can
// neither be lost nor cut a write in half.

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

typedef std::int64_t Nanos;

const Nanos nanosPerMs = 1000000;
const Nanos nanosPerSecond = 1000000000;
// A byte on the wire is a start bit, eight data bits and a stop bit.
const Nanos bitsTimesNanos = 10 * nanosPerSecond;

// A piece of the HEX file ends at an LF, or after this many bytes without one.
const std::size_t pieceLimit = 99;
const std::size_t commandLimit = 64;
const Nanos confirmWait = 30 * nanosPerSecond;
// After the final acknowledgement, give korvanel this long at least (and at
// most the second figure) to read it before the terminal goes away.
const Nanos drainAtLeast = 50 * nanosPerMs;
const Nanos drainAtMost = 2 * nanosPerSecond;
const Nanos drainCheckEvery = 5 * nanosPerMs;
// A master that keeps reporting a hang-up although we hold the slave open
// is broken beyond repair after this many recoveries within a second.
const int hangupRecoveriesPerSecond = 10;

const char *const endOfFileRecord = ":00000001FF";

struct Options {
    std::string dir;
    long port = -1;
    std::string recordPath;
    std::string statsPath;
    std::string verText = "Charger Firmware Version 4.12 (2026-05-20)\r\n";
    long verDelayMs = 20;
    long verSilentFirst = 0;
    std::string btvText = "Bootloader Version 1.7\r\n";
    long btvDelayMs = 20;
    bool eraseEcho = false;
    bool eraseSilent = false;
    std::string eraseFirst;
    long erasingLines = 3;
    long eraseStartDelayMs = 200;
    long eraseGapMs = 300;
    std::string beginText = "Begin file transfer...\r\n";
    long lineDelayMs = 0;
    std::string lineReply = "OK\r\n";
    std::map<long, std::string> replyAt;
    long hangupAfter = 0;
    bool reopen = false;
    long finalDelayMs = 50;
    std::string finalText = "System will now start new program.\r\n";
    long baud = 0;
    bool exitAfterFinal = false;
};

enum class Mode { Commands, ConfirmErase, Erasing, Transfer };

// What changes once the last byte of a queued text has gone out.
enum class AfterSend { Nothing, StartTransfer, BackToCommands, FinalSent };

struct Outgoing {
    std::string bytes;
    std::size_t sent;
    Nanos start;
    AfterSend after;
};

struct Counters {
    long pieces = 0;
    long bytesReceived = 0;
    long eraseCommands = 0;
    long verCommands = 0;
    long btvCommands = 0;
};

struct Sim {
    Options options;
    int masterFd = -1;
    int slaveFd = -1;
    int recordFd = -1;
    std::string slavePath;
    std::string linkPath;
    bool linkMade = false;

    Mode mode = Mode::Commands;
    std::string command;
    std::string piece;
    // When the last byte received was complete on the (simulated) wire.
    Nanos receiveClock = 0;

    std::deque<Outgoing> outgoing;
    // When the last queued byte will have left.
    Nanos sendTail = 0;
    bool outputBlocked = false;

    bool confirmPending = false;
    Nanos confirmDeadline = 0;

    bool draining = false;
    Nanos drainFrom = 0;
    Nanos drainUntil = 0;

    bool hungUp = false;
    // Counts the terminals opened, so that bytes read from one that has
    // since been closed are not taken as said on the next.
    int terminalNumber = 0;
    Nanos recoveryWindowStart = 0;
    int recoveriesInWindow = 0;

    bool finished = false;
    int exitCode = 0;
    Counters counters;
};

volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signalNumber)
{
    stopSignal = signalNumber;
}

Nanos monotonicNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Nanos(now.tv_sec) * nanosPerSecond + now.tv_nsec;
}

void printUsage(FILE *out)
{
    std::fputs(
        "usage: charger-sim --dir DIR --port N [options]\n"
        "Plays a charger's bootloader on a pseudo-terminal linked as DIR/comN.\n"
        "Prints 'ready COM<N> <slave path>' once the link exists; SIGTERM or SIGINT\n"
        "ends it and removes the link.\n"
        "\n"
        "  --record FILE             write every byte received to FILE\n"
        "  --stats FILE              write the counters to FILE on exit\n"
        "  --ver TEXT, --ver-delay MS         reply to \"ver\" (20 ms)\n"
        "  --ver-silent-first N               leave the first N \"ver\" unanswered\n"
        "  --btv TEXT, --btv-delay MS         reply to \"btv\" (20 ms)\n"
        "  --erase-echo              echo each erase command as \"erase\\r\\n\"\n"
        "  --erase-first TEXT        first line after erase; with \"ERASE\" in it the\n"
        "                            sim waits up to 30 s for a second erase\n"
        "  --erasing-lines N         number of \"Erasing...\" lines (3)\n"
        "  --erase-start-delay MS    delay to the first of them (200)\n"
        "  --erase-gap MS            delay between them and to the start signal (300)\n"
        "  --begin TEXT              the start signal (\"Begin file transfer...\\r\\n\")\n"
        "  --erase-silent            send nothing at all after erase\n"
        "  --line-reply TEXT         reply to each piece (\"OK\\r\\n\")\n"
        "  --line-delay MS           delay before each reply (0)\n"
        "  --reply-at K TEXT         piece K (from 1) gets TEXT instead; repeatable\n"
        "  --hangup-after K          close the terminal on receiving piece K, then exit\n"
        "  --reopen                  after the hang-up, open a new terminal, link it\n"
        "                            and go on\n"
        "  --final TEXT              final acknowledgement after the end-of-file record\n"
        "  --final-delay MS          delay before it (50)\n"
        "  --exit-after-final        exit once the final acknowledgement is sent\n"
        "  --baud B                  pace both directions at B baud, 10 bits a byte\n"
        "                            (0: no pacing)\n"
        "  --help                    show this text\n"
        "TEXT takes the escapes \\r \\n \\t \\\\ \\0 \\xHH; an empty TEXT sends nothing.\n",
        out);
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parseText(const char *text, std::string &out, std::string &error)
{
    out.clear();
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p != '\\') {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            int high = p[1] == '\0' ? -1 : hexDigitValue(p[1]);
            int low = high < 0 || p[2] == '\0' ? -1 : hexDigitValue(p[2]);
            if (low < 0) {
                error = "\\x needs two hex digits in \"" + std::string(text) + "\"";
                return false;
            }
            out += char(high * 16 + low);
            p += 2;
            break;
        }
        case '\0':
            error = "a lone backslash ends \"" + std::string(text) + "\"";
            return false;
        default:
            error = std::string("unknown escape \\") + *p + " in \"" + text + "\"";
            return false;
        }
    }
    return true;
}

bool parseNumber(const char *text, long lowest, long highest, long &out)
{
    if (*text < '0' || *text > '9') {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < lowest || value > highest) {
        return false;
    }
    out = value;
    return true;
}

struct NumberOption {
    const char *name;
    long Options::*field;
    long lowest;
    long highest;
};

struct TextOption {
    const char *name;
    std::string Options::*field;
};

struct FlagOption {
    const char *name;
    bool Options::*field;
};

const long longestDelayMs = 3600L * 1000;

const NumberOption numberOptions[] = {
    {"--port", &Options::port, 0, 99999},
    {"--ver-delay", &Options::verDelayMs, 0, longestDelayMs},
    {"--ver-silent-first", &Options::verSilentFirst, 0, 1000000},
    {"--btv-delay", &Options::btvDelayMs, 0, longestDelayMs},
    {"--erasing-lines", &Options::erasingLines, 0, 100000},
    {"--erase-start-delay", &Options::eraseStartDelayMs, 0, longestDelayMs},
    {"--erase-gap", &Options::eraseGapMs, 0, longestDelayMs},
    {"--line-delay", &Options::lineDelayMs, 0, longestDelayMs},
    {"--hangup-after", &Options::hangupAfter, 1, 1000000000L},
    {"--final-delay", &Options::finalDelayMs, 0, longestDelayMs},
    {"--baud", &Options::baud, 0, 4000000},
};

const TextOption textOptions[] = {
    {"--ver", &Options::verText},
    {"--btv", &Options::btvText},
    {"--erase-first", &Options::eraseFirst},
    {"--begin", &Options::beginText},
    {"--line-reply", &Options::lineReply},
    {"--final", &Options::finalText},
};

const TextOption pathOptions[] = {
    {"--dir", &Options::dir},
    {"--record", &Options::recordPath},
    {"--stats", &Options::statsPath},
};

const FlagOption flagOptions[] = {
    {"--erase-echo", &Options::eraseEcho},
    {"--erase-silent", &Options::eraseSilent},
    {"--reopen", &Options::reopen},
    {"--exit-after-final", &Options::exitAfterFinal},
};

// Returns 0 when the options are good, 1 for --help, -1 with error set.
int parseOptions(int argc, char **argv, Options &options, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char *value = nullptr;
        std::size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1;
            name.erase(equals);
        }
        if (name == "--help" || name == "-h") {
            return 1;
        }

        bool known = false;
        for (const FlagOption &flag : flagOptions) {
            if (name == flag.name) {
                if (value != nullptr) {
                    error = name + " takes no value";
                    return -1;
                }
                options.*flag.field = true;
                known = true;
            }
        }
        if (known) {
            continue;
        }

        if (name == "--reply-at") {
            if (value != nullptr || i + 2 >= argc) {
                error = "--reply-at needs two arguments: K TEXT";
                return -1;
            }
            long k = 0;
            if (!parseNumber(argv[i + 1], 1, 1000000000L, k)) {
                error = std::string("--reply-at: K must be a piece number from 1, not \"") + argv[i + 1] + "\"";
                return -1;
            }
            std::string text;
            if (!parseText(argv[i + 2], text, error)) {
                error = "--reply-at: " + error;
                return -1;
            }
            options.replyAt[k] = text;
            i += 2;
            continue;
        }

        for (const NumberOption &o : numberOptions) {
            known = known || name == o.name;
        }
        for (const TextOption &o : textOptions) {
            known = known || name == o.name;
        }
        for (const TextOption &o : pathOptions) {
            known = known || name == o.name;
        }
        if (!known) {
            error = name.compare(0, 1, "-") == 0 ? "unknown option: " + name : "unexpected argument: " + name;
            return -1;
        }
        if (value == nullptr) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return -1;
            }
            ++i;
            value = argv[i];
        }

        for (const NumberOption &o : numberOptions) {
            if (name == o.name) {
                if (!parseNumber(value, o.lowest, o.highest, options.*o.field)) {
                    error = name + " takes a whole number from " + std::to_string(o.lowest) + " to " +
                            std::to_string(o.highest) + ", not \"" + value + "\"";
                    return -1;
                }
            }
        }
        for (const TextOption &o : textOptions) {
            if (name == o.name) {
                if (!parseText(value, options.*o.field, error)) {
                    error = name + ": " + error;
                    return -1;
                }
            }
        }
        for (const TextOption &o : pathOptions) {
            if (name == o.name) {
                if (*value == '\0') {
                    error = name + " needs a non-empty path";
                    return -1;
                }
                options.*o.field = value;
            }
        }
    }

    if (options.dir.empty() || options.port < 0) {
        error = "--dir and --port are both needed";
        return -1;
    }
    return 0;
}

bool setRaw(int fd)
{
    termios settings;
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B19200);
    cfsetospeed(&settings, B19200);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

void closeTerminal(Sim &sim)
{
    if (sim.slaveFd >= 0) {
        close(sim.slaveFd);
        sim.slaveFd = -1;
    }
    if (sim.masterFd >= 0) {
        close(sim.masterFd);
        sim.masterFd = -1;
    }
}

bool openOwnSlave(Sim &sim)
{
    sim.slaveFd = open(sim.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (sim.slaveFd < 0) {
        std::fprintf(stderr, "charger-sim: cannot open %s: %s\n", sim.slavePath.c_str(), std::strerror(errno));
        return false;
    }
    if (!setRaw(sim.slaveFd)) {
        std::fprintf(stderr, "charger-sim: cannot set raw mode on %s: %s\n", sim.slavePath.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

bool openTerminal(Sim &sim)
{
    sim.masterFd = posix_openpt(O_RDWR | O_NOCTTY);
    if (sim.masterFd < 0) {
        std::fprintf(stderr, "charger-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    const char *name = nullptr;
    if (grantpt(sim.masterFd) != 0 || unlockpt(sim.masterFd) != 0 || (name = ptsname(sim.masterFd)) == nullptr) {
        std::fprintf(stderr, "charger-sim: cannot set up the pseudo-terminal: %s\n", std::strerror(errno));
        closeTerminal(sim);
        return false;
    }
    sim.slavePath = name;
    ++sim.terminalNumber;
    int flags = fcntl(sim.masterFd, F_GETFL);
    if (flags < 0 || fcntl(sim.masterFd, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(sim.masterFd, F_SETFD, FD_CLOEXEC) != 0) {
        std::fprintf(stderr, "charger-sim: cannot configure the pseudo-terminal: %s\n", std::strerror(errno));
        closeTerminal(sim);
        return false;
    }
    if (!openOwnSlave(sim) || !setRaw(sim.masterFd)) {
        if (sim.slaveFd >= 0) {
            std::fprintf(stderr, "charger-sim: cannot set raw mode on the pseudo-terminal: %s\n",
                         std::strerror(errno));
        }
        closeTerminal(sim);
        return false;
    }
    return true;
}

bool makeLink(Sim &sim)
{
    std::string dir = sim.options.dir;
    if (dir.back() != '/') {
        dir += '/';
    }
    sim.linkPath = dir + "com" + std::to_string(sim.options.port);
    if (symlink(sim.slavePath.c_str(), sim.linkPath.c_str()) != 0) {
        int error = errno;
        struct stat info;
        if (error == EEXIST) {
            std::fprintf(stderr,
                         "charger-sim: cannot create %s: it exists already (another charger-sim on COM%ld?"
                         " remove it if not)\n",
                         sim.linkPath.c_str(), sim.options.port);
        } else if (error == ENOENT || (stat(sim.options.dir.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))) {
            std::fprintf(stderr, "charger-sim: cannot create %s: the directory %s does not exist\n",
                         sim.linkPath.c_str(), sim.options.dir.c_str());
        } else {
            std::fprintf(stderr, "charger-sim: cannot create %s: %s\n", sim.linkPath.c_str(), std::strerror(error));
        }
        return false;
    }
    sim.linkMade = true;
    return true;
}

// Removes the link only while it still names our terminal, so a link that
// someone else has made meanwhile stays.
void removeLink(Sim &sim)
{
    if (!sim.linkMade) {
        return;
    }
    sim.linkMade = false;
    char target[4096];
    ssize_t length = readlink(sim.linkPath.c_str(), target, sizeof target - 1);
    if (length < 0) {
        return;
    }
    target[length] = '\0';
    if (sim.slavePath == target) {
        unlink(sim.linkPath.c_str());
    }
}

void announceReady(const Sim &sim)
{
    std::printf("ready COM%ld %s\n", sim.options.port, sim.slavePath.c_str());
    std::fflush(stdout);
}

void fail(Sim &sim, const std::string &message)
{
    std::fprintf(stderr, "charger-sim: %s\n", message.c_str());
    sim.finished = true;
    sim.exitCode = 1;
}

Nanos byteTime(const Sim &sim)
{
    return sim.options.baud == 0 ? 0 : bitsTimesNanos / sim.options.baud;
}

// How long count bytes take on the wire, rounded up to the nanosecond.
Nanos wireTime(const Sim &sim, std::size_t count)
{
    if (sim.options.baud == 0 || count == 0) {
        return 0;
    }
    return Nanos((count * bitsTimesNanos + sim.options.baud - 1) / sim.options.baud);
}

// Queues text to go out delayMs after both the event at base and the end of
// whatever is already queued. An empty text is silence, unless something has
// to happen at that moment.
void enqueue(Sim &sim, const std::string &text, Nanos base, long delayMs, AfterSend after)
{
    if (text.empty() && after == AfterSend::Nothing) {
        return;
    }
    Outgoing item;
    item.bytes = text;
    item.sent = 0;
    item.start = (base > sim.sendTail ? base : sim.sendTail) + delayMs * nanosPerMs;
    item.after = after;
    sim.sendTail = item.start + wireTime(sim, text.size());
    sim.outgoing.push_back(item);
}

// How many bytes of item have left the wire by now: byte i is complete at
// start + (i + 1) byte times.
std::size_t bytesDue(const Sim &sim, const Outgoing &item, Nanos now)
{
    if (now < item.start) {
        return 0;
    }
    Nanos elapsed = now - item.start;
    if (sim.options.baud == 0 || elapsed >= wireTime(sim, item.bytes.size())) {
        return item.bytes.size();
    }
    return std::size_t(elapsed * sim.options.baud / bitsTimesNanos);
}

Nanos nextByteDue(const Sim &sim, const Outgoing &item)
{
    return item.start + wireTime(sim, item.sent + 1);
}

void beginDrain(Sim &sim, Nanos now)
{
    sim.draining = true;
    sim.drainFrom = now + drainAtLeast;
    sim.drainUntil = now + drainAtMost;
}

void runAfterSend(Sim &sim, AfterSend after, Nanos now)
{
    switch (after) {
    case AfterSend::Nothing:
        break;
    case AfterSend::StartTransfer:
        sim.mode = Mode::Transfer;
        sim.piece.clear();
        break;
    case AfterSend::BackToCommands:
        sim.mode = Mode::Commands;
        sim.command.clear();
        break;
    case AfterSend::FinalSent:
        if (sim.options.exitAfterFinal) {
            beginDrain(sim, now);
        }
        break;
    }
}

void recoverFromHangup(Sim &sim, const char *what);

void sendDue(Sim &sim, Nanos now)
{
    while (!sim.outgoing.empty() && !sim.finished && sim.masterFd >= 0) {
        Outgoing &item = sim.outgoing.front();
        std::size_t due = bytesDue(sim, item, now);
        if (due > item.sent) {
            ssize_t written = write(sim.masterFd, item.bytes.data() + item.sent, due - item.sent);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    // Nobody reads the port and its queue is full: wait
                    // until there is room again.
                    sim.outputBlocked = true;
                    return;
                }
                if (errno == EIO) {
                    recoverFromHangup(sim, "writing");
                    return;
                }
                fail(sim, std::string("cannot write to the pseudo-terminal: ") + std::strerror(errno));
                return;
            }
            item.sent += std::size_t(written);
            sim.outputBlocked = item.sent < due;
            if (sim.outputBlocked) {
                return;
            }
        }
        if (item.sent < item.bytes.size() || now < item.start) {
            return;
        }
        AfterSend after = item.after;
        sim.outgoing.pop_front();
        runAfterSend(sim, after, now);
    }
}

void startErasing(Sim &sim, Nanos base)
{
    const Options &o = sim.options;
    sim.mode = Mode::Erasing;
    for (long i = 0; i < o.erasingLines; ++i) {
        enqueue(sim, "Erasing...\r\n", base, i == 0 ? o.eraseStartDelayMs : o.eraseGapMs, AfterSend::Nothing);
    }
    long beginDelay = o.erasingLines == 0 ? o.eraseStartDelayMs : o.eraseGapMs;
    if (o.beginText.empty()) {
        // The start signal never comes; korvanel gives up, and the next
        // command is heard again.
        enqueue(sim, "", base, beginDelay, AfterSend::BackToCommands);
    } else {
        enqueue(sim, o.beginText, base, beginDelay, AfterSend::StartTransfer);
    }
}

void onErase(Sim &sim, Nanos at)
{
    const Options &o = sim.options;
    ++sim.counters.eraseCommands;
    if (o.eraseSilent) {
        return;
    }
    if (o.eraseEcho) {
        enqueue(sim, "erase\r\n", at, 0, AfterSend::Nothing);
    }
    if (sim.mode == Mode::ConfirmErase) {
        sim.confirmPending = false;
        startErasing(sim, at);
        return;
    }
    enqueue(sim, o.eraseFirst, at, 0, AfterSend::Nothing);
    if (o.eraseFirst.find("ERASE") != std::string::npos) {
        sim.mode = Mode::ConfirmErase;
        sim.confirmPending = true;
        sim.confirmDeadline = at + confirmWait;
        return;
    }
    startErasing(sim, at);
}

void onCommand(Sim &sim, Nanos at)
{
    const Options &o = sim.options;
    if (sim.command == "erase") {
        onErase(sim, at);
    } else if (sim.mode == Mode::ConfirmErase) {
        // Only the confirmation is heard at that prompt.
    } else if (sim.command == "ver") {
        ++sim.counters.verCommands;
        if (sim.counters.verCommands > o.verSilentFirst)
            enqueue(sim, o.verText, at, o.verDelayMs, AfterSend::Nothing);
    } else if (sim.command == "btv") {
        ++sim.counters.btvCommands;
        enqueue(sim, o.btvText, at, o.btvDelayMs, AfterSend::Nothing);
    }
    sim.command.clear();
}

void hangUp(Sim &sim)
{
    sim.hungUp = true;
    sim.outgoing.clear();
    sim.outputBlocked = false;
    sim.draining = false;
    sim.confirmPending = false;
    closeTerminal(sim);
    removeLink(sim);
    if (!sim.options.reopen) {
        sim.finished = true;
        return;
    }
    sim.mode = Mode::Commands;
    sim.command.clear();
    sim.piece.clear();
    if (!openTerminal(sim) || !makeLink(sim)) {
        closeTerminal(sim);
        sim.finished = true;
        sim.exitCode = 1;
        return;
    }
    announceReady(sim);
}

void onPiece(Sim &sim, Nanos at)
{
    const Options &o = sim.options;
    long number = ++sim.counters.pieces;
    bool endOfFile = sim.piece.size() >= 11 && strncasecmp(sim.piece.c_str(), endOfFileRecord, 11) == 0;
    sim.piece.clear();
    if (number == o.hangupAfter && !sim.hungUp) {
        hangUp(sim);
        return;
    }
    std::map<long, std::string>::const_iterator special = o.replyAt.find(number);
    enqueue(sim, special != o.replyAt.end() ? special->second : o.lineReply, at, o.lineDelayMs, AfterSend::Nothing);
    if (endOfFile) {
        sim.mode = Mode::Commands;
        sim.command.clear();
        enqueue(sim, o.finalText, at, o.finalDelayMs, AfterSend::FinalSent);
    }
}

void takeByte(Sim &sim, char c, Nanos at)
{
    switch (sim.mode) {
    case Mode::Commands:
    case Mode::ConfirmErase:
        if (c == '\0' || c == '\n') {
            return;
        }
        if (c == '\r') {
            onCommand(sim, at);
            return;
        }
        if (sim.command.size() >= commandLimit) {
            sim.command.clear();
        }
        sim.command += c;
        return;
    case Mode::Erasing:
        // Busy erasing: what comes now is lost, as on the charger.
        return;
    case Mode::Transfer:
        sim.piece += c;
        if (c == '\n' || sim.piece.size() >= pieceLimit) {
            onPiece(sim, at);
        }
        return;
    }
}

void takeBytes(Sim &sim, const char *bytes, std::size_t count, Nanos now)
{
    if (sim.recordFd >= 0) {
        std::size_t done = 0;
        while (done < count) {
            ssize_t written = write(sim.recordFd, bytes + done, count - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                fail(sim, "cannot write to " + sim.options.recordPath + ": " + std::strerror(errno));
                return;
            }
            done += std::size_t(written);
        }
    }
    sim.counters.bytesReceived += long(count);
    Nanos perByte = byteTime(sim);
    int terminal = sim.terminalNumber;
    for (std::size_t i = 0; i < count && !sim.finished && sim.terminalNumber == terminal && sim.masterFd >= 0; ++i) {
        // A byte is complete one byte time after the previous one at the
        // earliest, however fast the pseudo-terminal delivered it.
        sim.receiveClock = (sim.receiveClock > now ? sim.receiveClock : now) + perByte;
        takeByte(sim, bytes[i], sim.receiveClock);
    }
}

// The master reports a hang-up only when no slave descriptor is open, which
// our own one prevents; if the terminal was hung up all the same (korvanel's
// session ended with the port as its controlling terminal), opening our
// slave again brings it back.
void recoverFromHangup(Sim &sim, const char *what)
{
    Nanos now = monotonicNow();
    if (now - sim.recoveryWindowStart > nanosPerSecond) {
        sim.recoveryWindowStart = now;
        sim.recoveriesInWindow = 0;
    }
    if (++sim.recoveriesInWindow > hangupRecoveriesPerSecond) {
        fail(sim, std::string("the pseudo-terminal keeps hanging up while ") + what + "; giving up");
        return;
    }
    if (sim.slaveFd >= 0) {
        close(sim.slaveFd);
        sim.slaveFd = -1;
    }
    if (!openOwnSlave(sim)) {
        fail(sim, "the pseudo-terminal hung up and cannot be opened again");
        return;
    }
    sim.outputBlocked = false;
}

void readInput(Sim &sim)
{
    char buffer[4096];
    ssize_t count = read(sim.masterFd, buffer, sizeof buffer);
    if (count > 0) {
        takeBytes(sim, buffer, std::size_t(count), monotonicNow());
        return;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (count == 0 || errno == EIO) {
        recoverFromHangup(sim, "reading");
        return;
    }
    fail(sim, std::string("cannot read from the pseudo-terminal: ") + std::strerror(errno));
}

void checkTimers(Sim &sim, Nanos now)
{
    if (sim.confirmPending && now >= sim.confirmDeadline) {
        // No confirmation came: the charger drops the erase.
        sim.confirmPending = false;
        sim.mode = Mode::Commands;
        sim.command.clear();
    }
    if (sim.draining && now >= sim.drainFrom) {
        int waiting = 0;
        if (now >= sim.drainUntil || ioctl(sim.slaveFd, TIOCINQ, &waiting) != 0 || waiting == 0) {
            sim.finished = true;
        }
    }
}

// The next moment the loop has something to do, or -1 for none.
Nanos nextWakeup(const Sim &sim, Nanos now)
{
    Nanos next = -1;
    auto consider = [&next](Nanos when) {
        if (next < 0 || when < next) {
            next = when;
        }
    };
    if (!sim.outgoing.empty() && !sim.outputBlocked) {
        const Outgoing &item = sim.outgoing.front();
        consider(now < item.start ? item.start : nextByteDue(sim, item));
    }
    if (sim.confirmPending) {
        consider(sim.confirmDeadline);
    }
    if (sim.draining) {
        consider(now < sim.drainFrom ? sim.drainFrom : now + drainCheckEvery);
    }
    return next;
}

void runLoop(Sim &sim, const sigset_t &waitMask)
{
    while (!sim.finished) {
        Nanos now = monotonicNow();
        sendDue(sim, now);
        checkTimers(sim, now);
        if (sim.finished) {
            break;
        }

        Nanos wakeup = nextWakeup(sim, now);
        timespec timeout;
        timespec *timeoutPointer = nullptr;
        if (wakeup >= 0) {
            Nanos wait = wakeup > now ? wakeup - now : 0;
            timeout.tv_sec = time_t(wait / nanosPerSecond);
            timeout.tv_nsec = long(wait % nanosPerSecond);
            timeoutPointer = &timeout;
        }
        pollfd watched;
        watched.fd = sim.masterFd;
        watched.events = short(POLLIN | (sim.outputBlocked ? POLLOUT : 0));
        watched.revents = 0;
        int ready = ppoll(&watched, 1, timeoutPointer, &waitMask);
        if (stopSignal != 0) {
            break;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(sim, std::string("ppoll failed: ") + std::strerror(errno));
            break;
        }
        if (ready == 0) {
            continue;
        }
        if (watched.revents & POLLOUT) {
            sim.outputBlocked = false;
        }
        if (watched.revents & POLLIN) {
            readInput(sim);
        } else if (watched.revents & (POLLHUP | POLLERR)) {
            recoverFromHangup(sim, "waiting");
        } else if (watched.revents & POLLNVAL) {
            fail(sim, "the pseudo-terminal was closed under us");
        }
    }
}

bool writeStats(const Sim &sim)
{
    if (sim.options.statsPath.empty()) {
        return true;
    }
    FILE *file = std::fopen(sim.options.statsPath.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "charger-sim: cannot write %s: %s\n", sim.options.statsPath.c_str(),
                     std::strerror(errno));
        return false;
    }
    const Counters &c = sim.counters;
    std::fprintf(file, "pieces=%ld\nbytes_received=%ld\nerase_commands=%ld\nver_commands=%ld\nbtv_commands=%ld\n",
                 c.pieces, c.bytesReceived, c.eraseCommands, c.verCommands, c.btvCommands);
    bool good = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !good) {
        std::fprintf(stderr, "charger-sim: cannot write %s\n", sim.options.statsPath.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Sim sim;
    std::string error;
    int parsed = parseOptions(argc, argv, sim.options, error);
    if (parsed == 1) {
        printUsage(stdout);
        return 0;
    }
    if (parsed < 0) {
        std::fprintf(stderr,
                     "charger-sim: %s\n"
                     "usage: charger-sim --dir DIR --port N [options]  (charger-sim --help lists them)\n",
                     error.c_str());
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    // The stop signals are held back everywhere but inside ppoll().
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    const int stoppers[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : stoppers) {
        sigaddset(&stopSignals, s);
        sigaction(s, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (int s : stoppers) {
        sigdelset(&waitMask, s);
    }

    if (!sim.options.recordPath.empty()) {
        sim.recordFd = open(sim.options.recordPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (sim.recordFd < 0) {
            std::fprintf(stderr, "charger-sim: cannot create %s: %s\n", sim.options.recordPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (!openTerminal(sim)) {
        return 1;
    }
    if (!makeLink(sim)) {
        closeTerminal(sim);
        return 1;
    }
    announceReady(sim);

    runLoop(sim, waitMask);

    closeTerminal(sim);
    removeLink(sim);
    if (sim.recordFd >= 0) {
        close(sim.recordFd);
    }
    if (!writeStats(sim)) {
        return 1;
    }
    return sim.exitCode;
}
