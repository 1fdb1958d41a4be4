#include "bootloader/flash.h"

#include <cstdio>
#include <cstring>

#include "bootloader/display.h"
#include "bootloader/hex_check.h"
#include "bootloader/replies.h"
#include "platform.h"

namespace {

const std::uint8_t eraseCommand[6] = {'e', 'r', 'a', 's', 'e', '\r'};
const char transferStart[] = "Begin file transfer...\r\n";
const char finalAcknowledgement[] = "System will now start new program.\r\n";

const std::int32_t eraseStartTimeoutSeconds = 10;
const std::int32_t eraseLineTimeoutSeconds = 3;
const std::int32_t pieceReplyTimeoutSeconds = 6;
const DWORD afterEraseCommandMs = 1000;
const DWORD afterEraseDoneMs = 500;
const DWORD successWaitMs = 2000;
const DWORD afterCloseMs = 1000;

const std::size_t replyBufferSize = 512;
// One less than the buffer: readReply keeps room for its NUL within it.
const std::uint32_t replyReadSize = replyBufferSize - 1;
const std::size_t lineBufferSize = 102;

struct Programming {
    CommPort *port;
    const char *fileName;
    char reply[replyBufferSize];
    char line[lineBufferSize];
    std::uint32_t length;
    FILE *hexFile;
    std::uint32_t fileSize;
    std::uint32_t byteCount;
    unsigned long startMs;
    std::uint8_t result;
    std::uint8_t success;
};

void pause(DWORD milliseconds)
{
    std::fflush(stdout);
    Sleep(milliseconds);
}

// Every byte has to go out: a cut-short line would leave the charger with
// a record it never fully received.
bool sendAll(Programming &run, const std::uint8_t *bytes, std::uint32_t size)
{
    run.length = size;
    return writeBytes(*run.port, bytes, &run.length) == 0 && run.length == size;
}

bool readReplyInto(Programming &run, std::int32_t timeoutSeconds)
{
    run.length = replyReadSize;
    return readReply(*run.port, run.reply, &run.length, timeoutSeconds) == 1;
}

std::int32_t elapsedMs(const Programming &run)
{
    return (std::int32_t)(clockMs() - run.startMs);
}

bool startsErasing(const char *reply)
{
    return std::strncmp(reply, "Erasing", 7) == 0;
}

void openPhase(Programming &run)
{
    if (openPort(*run.port) != 0) {
        std::printf("Error: Comm Port %u Open Failed\n", (unsigned)run.port->portNumber);
        run.result = 1;
        return;
    }
    if (configureLine(*run.port) != 0) {
        std::printf("Error: Comm Port %u Setup Failed\n", (unsigned)run.port->portNumber);
        run.result = 1;
        return;
    }
    run.hexFile = openTextFile(run.fileName);
    if (!run.hexFile) {
        std::printf("Error opening %s\n", run.fileName);
        run.result = 1;
        return;
    }
    std::printf("Reprogramming With %s\n", run.fileName);
    run.fileSize = (std::uint32_t)fileSize(run.fileName);

    HexCheck check = checkHexPieces(run.hexFile);
    if (check.result == hexCheckNoEndRecord) {
        std::printf("Error: No end-of-file record in %s, charger not erased\n", run.fileName);
        run.result = 1;
    } else if (check.result == hexCheckBadRecord) {
        std::printf("Error: Bad record on line %u of %s, charger not erased\n", (unsigned)check.badLine,
                    run.fileName);
        run.result = 1;
    } else if (std::fseek(run.hexFile, 0, SEEK_SET) != 0) {
        std::printf("\nError Reading File\n");
        run.result = 1;
    }
}

void eraseFailed(Programming &run)
{
    std::printf("\rError: Erasing Flash              \n");
    std::fputs(run.reply, stdout);
    std::printf("\n");
    run.result = 1;
}

// Erases the flash; true when the bootloader is ready for the file.
bool erase(Programming &run)
{
    std::printf("Erasing Flash");
    if (!sendAll(run, eraseCommand, sizeof eraseCommand)) {
        std::printf("\nError: Writing 'erase 1' To Comm Port Failed\n");
        run.result = 1;
        return false;
    }
    pause(afterEraseCommandMs);
    run.reply[0] = 0;

    // Wait for the erase to start; an echo or other chatter is skipped.
    while (!std::strstr(run.reply, "ERASE") && !startsErasing(run.reply)) {
        if (!readReplyInto(run, eraseStartTimeoutSeconds))
            break;
    }

    if (std::strstr(run.reply, "ERASE")) {
        // The bootloader asks for the command once more.
        std::printf("\rErasing Flash 2");
        bool secondSent = sendAll(run, eraseCommand, sizeof eraseCommand);
        if (!secondSent)
            std::printf("\nError: Writing 'erase 2' To Comm Port Failed\n");
        run.reply[0] = 0;
        while (!startsErasing(run.reply)) {
            if (!readReplyInto(run, eraseStartTimeoutSeconds))
                break;
        }
        if (!secondSent) {
            eraseFailed(run);
            return false;
        }
    }

    // While it erases, the bootloader sends a line at least every 3 s,
    // then the start signal.
    for (;;) {
        std::printf("\r");
        printReply(run.reply, (std::int32_t)std::strlen(run.reply));
        if (!readReplyInto(run, eraseLineTimeoutSeconds)) {
            printReply(run.reply, (std::int32_t)run.length);
            eraseFailed(run);
            return false;
        }
        if (std::strncmp(run.reply, transferStart, 24) == 0)
            break;
    }
    std::printf("\rErase Flash Done           ");
    pause(afterEraseDoneMs);
    return true;
}

void showProgress(Programming &run)
{
    if (run.fileSize != 0) {
        formatElapsed(run.reply, replyBufferSize, elapsedMs(run));
        // In 64 bits: the product would overflow 32 bits past about 43 MB.
        unsigned long long percent = (unsigned long long)run.byteCount * 100u / run.fileSize;
        std::printf("\rProgramming = %lu%% %s    ", (unsigned long)percent, run.reply);
    } else {
        std::printf("\rBytes Sent = %lu bytes     ", (unsigned long)run.byteCount);
    }
}

// Sends the file piece by piece, each answered before the next goes out;
// true when the end-of-file record has been sent and answered.
bool transfer(Programming &run)
{
    for (;;) {
        std::memset(run.line, 0, sizeof run.line);
        if (!readTextLine(run.line, hexPieceLimit, run.hexFile)) {
            std::printf("\nError Reading File\n");
            run.result = 1;
            return false;
        }
        std::uint32_t pieceLength = (std::uint32_t)std::strlen(run.line);
        run.byteCount += pieceLength + 1;
        showProgress(run);

        if (!sendAll(run, (const std::uint8_t *)run.line, pieceLength)) {
            std::printf("\nError: Programming Failure: Writing \r");
            run.result = 1;
            return false;
        }
        if (!readReplyInto(run, pieceReplyTimeoutSeconds)) {
            std::printf("\nError: Programming Failure: ");
            printReply(run.reply, (std::int32_t)run.length);
            std::printf("\n");
            run.result = 1;
            return false;
        }
        std::printf("[");
        printReply(run.reply, (std::int32_t)run.length);
        std::printf("]");
        if (isEndOfFileRecord(run.line))
            return true;
    }
}

void awaitAcknowledgement(Programming &run)
{
    readReplyInto(run, pieceReplyTimeoutSeconds);
    if (std::strncmp(run.reply, finalAcknowledgement, 36) == 0) {
        std::printf("\rReprogramming Completed OK             \n");
        run.success = 1;
    } else {
        std::printf("\rReprogramming Completed : Error No Final ACK\n");
        run.result = 1;
    }
    std::fputs(run.reply, stdout);
    std::printf("\n");
}

void closingPhase(Programming &run)
{
    std::printf("Total Elapsed Time %s\n", formatElapsed(run.reply, replyBufferSize, elapsedMs(run)));
    if (run.success) {
        std::printf("\nWait...");
        pause(successWaitMs);
        std::printf("\r        \r");
    }
    if (run.hexFile)
        closeTextFile(run.hexFile);
    closePort(*run.port);
    pause(afterCloseMs);
    std::printf("\n\a");
    std::fflush(stdout);
}

} // namespace

int programFlash(CommPort &port, const char *fileName)
{
    Programming run;
    std::memset(&run, 0, sizeof run);
    run.port = &port;
    run.fileName = fileName;
    run.hexFile = nullptr;

    openPhase(run);
    run.startMs = clockMs();
    if (run.result == 0 && erase(run) && transfer(run))
        awaitAcknowledgement(run);
    closingPhase(run);
    return run.result;
}
