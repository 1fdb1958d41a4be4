// The bootloader protocol against the recording fake: what each operation
// prints, what reaches the charger, how long its waits last on the virtual
// clock, and that every port it opens is closed again.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bootloader/flash.h"
#include "bootloader/replies.h"
#include "fake_winapi.h"
#include "test_files.h"

namespace {

const int portNumber = 4;
const std::string verCommand("ver\r\0\0\0", 7);
const std::string btvCommand("btv\r\0\0\0", 7);
const std::string timeoutMessage = "\nError: Timeout while waiting for response from Charger\n";

// A scripted bootloader: what it answers to each command and to each piece.
struct Charger {
    std::string version = "Charger V2.31\r\n";
    unsigned long versionDelayMs = 20;
    std::string bootloader = "Bootloader Version 1.7\r\n";
    unsigned long bootloaderDelayMs = 20;
    std::vector<std::string> eraseLines = {"Erasing...\r\n", "Erasing...\r\n", "Begin file transfer...\r\n"};
    unsigned long eraseStartMs = 200;
    unsigned long eraseGapMs = 300;
    std::string pieceReply = "OK\r\n";
    unsigned long pieceDelayMs = 5;
    int silentAtPiece = 0; // 1-based; 0 for none
    std::string final = "System will now start new program.\r\n";
    unsigned long finalDelayMs = 50;
    int pieces = 0;
};

Charger charger;

void respond(int port, const std::string &written)
{
    if (written == verCommand) {
        fakeQueueRead(port, charger.version, charger.versionDelayMs);
    } else if (written == btvCommand) {
        fakeQueueRead(port, charger.bootloader, charger.bootloaderDelayMs);
    } else if (written == "erase\r") {
        unsigned long at = charger.eraseStartMs;
        for (const std::string &line : charger.eraseLines) {
            fakeQueueRead(port, line, at);
            at += charger.eraseGapMs;
        }
    } else {
        ++charger.pieces;
        if (charger.pieces == charger.silentAtPiece)
            return;
        fakeQueueRead(port, charger.pieceReply, charger.pieceDelayMs);
        if (written.compare(0, 11, ":00000001FF") == 0)
            fakeQueueRead(port, charger.final, charger.pieceDelayMs + charger.finalDelayMs);
    }
}

struct ProtocolTest : ::testing::Test {
    void SetUp() override
    {
        fakeReset();
        fakeAddPort(portNumber);
        charger = Charger();
        fakeSetResponder(respond);
        port = makeCommPort();
        port.portNumber = portNumber;
        minBootloaderCheck = 1;
        minBootloaderMajor = 1;
        minBootloaderMinor = 5;
    }

    void TearDown() override
    {
        fakeSetResponder(FakeResponder());
        EXPECT_EQ(fakeMisuseCount(), 0) << fakeCallLog();
        EXPECT_EQ(fakeOpenHandles(), 0) << fakeCallLog();
        FakePort *state = fakePort(portNumber);
        EXPECT_EQ(state->opens, state->closes);
    }

    std::string hexFile(const std::string &text)
    {
        return writeFile(dir, "fw.hex", text);
    }

    CommPort port;
    TempDir dir;
    int result = -1;
    std::string output;
};

#define CAPTURED(call)                                                                                                 \
    do {                                                                                                               \
        testing::internal::CaptureStdout();                                                                            \
        result = (call);                                                                                               \
        std::fflush(stdout);                                                                                           \
        output = testing::internal::GetCapturedStdout();                                                               \
    } while (0)

TEST_F(ProtocolTest, VersionQueryPrintsTheReplyAndDrainsTheLine)
{
    charger.version = "Charger V2.31\r\nnoise after the reply";
    unsigned long start = fakeNow();
    CAPTURED(queryVersion(port));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output, "Getting Version\rCharger V2.31\r\n\n\n");
    EXPECT_EQ(fakeWritten(portNumber), verCommand);
    // The noise is read and thrown away; the line then stays quiet a second.
    EXPECT_EQ(fakePort(portNumber)->input.size(), 0u);
    EXPECT_GE(fakeNow() - start, 1000u);
}

TEST_F(ProtocolTest, VersionQueryFailures)
{
    struct Case {
        const char *name;
        std::string reply;
        std::string expected;
        unsigned long minMs;
    };
    const Case cases[] = {
        {"silent", "", "Getting Version" + timeoutMessage + "\rError Getting Version\n\n\n", 15000},
        {"one byte", "V", "Getting Version" + timeoutMessage + "\rError Getting Version\n\n\n", 15000},
    };
    for (const Case &c : cases) {
        SetUp();
        charger.version = c.reply;
        unsigned long start = fakeNow();
        CAPTURED(queryVersion(port));
        EXPECT_EQ(result, 1) << c.name;
        EXPECT_EQ(output, c.expected) << c.name;
        EXPECT_GE(fakeNow() - start, c.minMs) << c.name;
        EXPECT_LT(fakeNow() - start, c.minMs + 2100) << c.name;
    }

    SetUp();
    fakeHoldPort(portNumber);
    CAPTURED(queryVersion(port));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "Getting Version\nError: Comm Port 4 Open Failed\n\n\n");

    SetUp();
    fakeFailCall("SetCommState", 1);
    CAPTURED(queryVersion(port));
    EXPECT_EQ(output, "Getting Version\nError: Comm Port 4 Setup Failed\n\n\n");

    SetUp();
    fakeShortWrite(1, 4);
    CAPTURED(queryVersion(port));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "Getting Version\nError: Sending Get Version To Comm Port Failed\n\n\n");
}

TEST_F(ProtocolTest, VersionReplyWithoutLineEndStillCounts)
{
    charger.version = "V2.3";
    CAPTURED(queryVersion(port));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output, "Getting Version\rV2.3\n\n");
}

TEST_F(ProtocolTest, BootloaderVersionIsComparedWithTheMinimum)
{
    const std::string requirement = "The program requires bootloader  1.5 or greater.\n";
    struct Case {
        std::string reply;
        int result;
        std::string afterReply;
    };
    const Case cases[] = {
        {"Bootloader Version 1.5\r\n", 0, "\n\n"},
        {"Bootloader Version 2.0\r\n", 0, "\n\n"},
        {"Bootloader Version 1.9\r\n", 0, "\n\n"},
        {"Bootloader Version 1.4\r\n", 1, requirement + "\n\n"},
        {"Bootloader Version 0.9\r\n", 1, requirement + "\n\n"},
        {"Bootloader Version x.5\r\n", 1, "Error Getting Bootloader Version\n" + requirement + "\n\n"},
        {"Bootloader 1.7\r\n", 1, "Error Getting Bootloader Version\n" + requirement + "\n\n"},
        // The version is read by its place, even behind a NUL that ends the printed text.
        {std::string("Bootloader\0Version 1.7\r\n", 24), 0, "\n\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        charger.bootloader = c.reply;
        CAPTURED(checkBootloaderVersion(port));
        EXPECT_EQ(result, c.result) << c.reply;
        std::string shown = c.reply.substr(0, c.reply.find('\0'));
        EXPECT_EQ(output, "Bootloader Version\r" + shown + c.afterReply) << c.reply;
    }
}

TEST_F(ProtocolTest, BootloaderVersionWithoutReply)
{
    charger.bootloader = "";
    unsigned long start = fakeNow();
    CAPTURED(checkBootloaderVersion(port));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "Bootloader Version" + timeoutMessage +
                          "\rError Getting Bootloader Version\nThe program requires bootloader  1.5 or greater.\n\n\n");
    EXPECT_GE(fakeNow() - start, 3000u);
    EXPECT_LT(fakeNow() - start, 4500u);
}

std::string twoRecordFile()
{
    return hexRecord(0, 0, {1, 2, 3, 4}) + "\r\n" + hexRecord(4, 0, {5, 6, 7, 8}) + "\r\n:00000001FF\r\n";
}

TEST_F(ProtocolTest, ProgrammingSendsEachPieceWithLfAndWaitsForTheAcknowledgement)
{
    std::string file = hexFile(twoRecordFile());
    CAPTURED(programFlash(port, file.c_str()));
    EXPECT_EQ(result, 0) << output;
    const std::string a = hexRecord(0, 0, {1, 2, 3, 4});
    const std::string b = hexRecord(4, 0, {5, 6, 7, 8});
    EXPECT_EQ(fakeWritten(portNumber), "erase\r" + a + "\n" + b + "\n:00000001FF\n");
    EXPECT_NE(output.find("Reprogramming With " + file + "\nErasing Flash\rErasing...\rErasing...\rErase Flash Done"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("\rProgramming = 100% 00:00:0"), std::string::npos) << output;
    EXPECT_NE(output.find("[OK]\rReprogramming Completed OK             \n"
                          "System will now start new program.\r\n\nTotal Elapsed Time 00:00:0"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.substr(output.size() - 21), "\n\nWait...\r        \r\n\a");
}

TEST_F(ProtocolTest, AnEraseThatNeverStartsFailsAfterFourteenSeconds)
{
    charger.eraseLines.clear();
    std::string file = hexFile(twoRecordFile());
    CAPTURED(programFlash(port, file.c_str()));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "Reprogramming With " + file + "\nErasing Flash" + timeoutMessage + "\r[]" + timeoutMessage +
                          "[]\rError: Erasing Flash              \n\nTotal Elapsed Time 00:00:14\n\n\a");
    EXPECT_EQ(fakeWritten(portNumber), "erase\r");
}

TEST_F(ProtocolTest, ASecondEraseWhenTheBootloaderAsksForIt)
{
    charger.eraseLines = {"ERASE again?\r\n"};
    fakeSetResponder([](int port, const std::string &written) {
        if (written == "erase\r" && fakeWritten(port) == "erase\rerase\r") {
            fakeQueueRead(port, "Erasing...\r\nBegin file transfer...\r\n", 100, 0);
            return;
        }
        respond(port, written);
    });
    std::string file = hexFile(twoRecordFile());
    CAPTURED(programFlash(port, file.c_str()));
    EXPECT_EQ(result, 0) << output;
    EXPECT_NE(output.find("Erasing Flash\rErasing Flash 2\rErasing...\rErase Flash Done"), std::string::npos) << output;
}

TEST_F(ProtocolTest, AMissingReplyEndsTheTransfer)
{
    charger.silentAtPiece = 2;
    std::string file = hexFile(twoRecordFile());
    CAPTURED(programFlash(port, file.c_str()));
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("[OK]\rProgramming = 76% 00:00:0"), std::string::npos) << output;
    EXPECT_NE(output.find(timeoutMessage + "\nError: Programming Failure: []\nTotal Elapsed Time"), std::string::npos)
        << output;
    // Nothing follows the unanswered piece.
    std::string written = fakeWritten(portNumber);
    EXPECT_EQ(written.substr(written.size() - 20), hexRecord(4, 0, {5, 6, 7, 8}) + "\n");
}

TEST_F(ProtocolTest, AFileThatCannotBeSentIsRefusedBeforeTheErase)
{
    std::string bad = hexRecord(4, 0, {5, 6, 7, 8});
    bad[5] = bad[5] == '0' ? '1' : '0';
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"", "Error: No end-of-file record in %s, charger not erased\n"},
        {hexRecord(0, 0, {1}) + "\n", "Error: No end-of-file record in %s, charger not erased\n"},
        {hexRecord(0, 0, {1}) + "\n" + bad + "\n:00000001FF\n", "Error: Bad record on line 2 of %s, charger not erased\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        std::string file = hexFile(c.text);
        CAPTURED(programFlash(port, file.c_str()));
        std::string message = c.message;
        message.replace(message.find("%s"), 2, file);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(output, "Reprogramming With " + file + "\n" + message + "Total Elapsed Time 00:00:00\n\n\a");
        EXPECT_EQ(fakeWritten(portNumber), "");
    }
}

TEST_F(ProtocolTest, OpeningFailuresCloseWhatWasOpened)
{
    CAPTURED(programFlash(port, (dir.path + "/missing.hex").c_str()));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "Error opening " + dir.path + "/missing.hex\nTotal Elapsed Time 00:00:00\n\n\a");

    SetUp();
    port.portNumber = 9;
    CAPTURED(programFlash(port, hexFile(twoRecordFile()).c_str()));
    EXPECT_EQ(output, "Error: Comm Port 9 Open Failed\nTotal Elapsed Time 00:00:00\n\n\a");
}

// Each reply point of the protocol with a reply just inside its time-out,
// just outside it, and far too long: the first is taken, the others fail the
// operation, and every wait ends.
TEST_F(ProtocolTest, EveryReplyPointAtItsLimits)
{
    enum Point { version, bootloader, eraseStart, eraseLine, piece, final };
    struct Case {
        const char *name;
        Point point;
        unsigned long delayMs;
        bool overLong;
        int result;
    };
    const Case cases[] = {
        {"version just in time", version, 14500, false, 0},
        {"version too late", version, 16100, false, 1},
        {"version over-long", version, 20, true, 0},
        {"bootloader just in time", bootloader, 2500, false, 0},
        {"bootloader too late", bootloader, 4100, false, 1},
        {"bootloader over-long", bootloader, 20, true, 0}, // the version stands in its place
        {"erase start just in time", eraseStart, 1000 + 9500, false, 0},
        // A start missed by the 10 s wait is still taken by the 3 s one after it.
        {"erase start after the first wait", eraseStart, 1000 + 11100, false, 0},
        {"erase start too late", eraseStart, 1000 + 14100, false, 1},
        {"erase start over-long", eraseStart, 200, true, 1},
        {"erase line just in time", eraseLine, 2500, false, 0},
        {"erase line too late", eraseLine, 4100, false, 1},
        {"piece reply just in time", piece, 5500, false, 0},
        {"piece reply too late", piece, 7100, false, 1},
        {"piece reply over-long", piece, 5, true, 1},
        {"final just in time", final, 5500, false, 0},
        {"final too late", final, 7100, false, 1},
        {"final over-long", final, 50, true, 1},
    };
    const std::string overLong(2000, 'Z');
    for (const Case &c : cases) {
        SetUp();
        switch (c.point) {
        case version:
            charger.versionDelayMs = c.delayMs;
            if (c.overLong)
                charger.version = overLong + "\r\n";
            break;
        case bootloader:
            charger.bootloaderDelayMs = c.delayMs;
            if (c.overLong)
                charger.bootloader = "Bootloader Version 1.7" + overLong + "\r\n";
            break;
        case eraseStart:
            charger.eraseStartMs = c.delayMs;
            if (c.overLong)
                charger.eraseLines.insert(charger.eraseLines.begin(), overLong + "\r\n");
            break;
        case eraseLine:
            charger.eraseGapMs = c.delayMs;
            break;
        case piece:
            charger.pieceDelayMs = c.delayMs;
            if (c.overLong)
                charger.pieceReply = overLong + "\r\n";
            break;
        case final:
            charger.finalDelayMs = c.delayMs;
            if (c.overLong)
                charger.final = "System will now start new program." + overLong + "\r\n";
            break;
        }
        std::string file = hexFile(twoRecordFile());
        unsigned long start = fakeNow();
        if (c.point == version)
            CAPTURED(queryVersion(port));
        else if (c.point == bootloader)
            CAPTURED(checkBootloaderVersion(port));
        else
            CAPTURED(programFlash(port, file.c_str()));
        EXPECT_EQ(result, c.result) << c.name << "\n" << output;
        EXPECT_LT(fakeNow() - start, 40000u) << c.name;
        if (c.overLong && c.point == version) {
            // The first 1023 bytes are shown; the rest is drained, not kept.
            EXPECT_NE(output.find(std::string(1023, 'Z')), std::string::npos) << c.name;
            EXPECT_EQ(output.find(std::string(1024, 'Z')), std::string::npos) << c.name;
            EXPECT_EQ(fakePort(portNumber)->input.size(), 0u) << c.name;
        }
        TearDown();
    }
}

} // namespace
