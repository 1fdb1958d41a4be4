// The serial port against the recording fake of the platform: which calls it
// makes, with which values, and what it reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_winapi.h"
#include "serial/comm_port.h"

namespace {

const int portNumber = 7;

DWORD flagWord(const DCB &dcb)
{
    DWORD word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char *>(&dcb) + 8, sizeof word);
    return word;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

std::vector<std::string> callNamesFrom(std::size_t first)
{
    std::vector<std::string> names = fakeCallNames();
    return std::vector<std::string>(names.begin() + std::ptrdiff_t(first), names.end());
}

struct SerialTest : ::testing::Test {
    void SetUp() override
    {
        fakeReset();
        fakeAddPort(portNumber);
        port = makeCommPort();
        port.portNumber = portNumber;
    }

    // Every test gives back each handle it opened, once.
    void TearDown() override
    {
        EXPECT_EQ(fakeMisuseCount(), 0) << joined(fakeMisuses()) << fakeCallLog();
        EXPECT_EQ(fakeOpenHandles(), 0) << fakeCallLog();
    }

    void openConfigured()
    {
        ASSERT_EQ(openPort(port), 0) << fakeCallLog();
        ASSERT_EQ(configureLine(port), 0) << fakeCallLog();
    }

    // readUntil as the reply reader calls it: LF ends the reply.
    std::uint8_t readLine(std::uint32_t limit, std::int32_t seconds = 3)
    {
        std::memset(buffer, 0x55, sizeof buffer);
        count = limit;
        return readUntil(port, buffer, '\n', seconds, &count);
    }

    std::string received() const
    {
        return std::string(reinterpret_cast<const char *>(buffer), count);
    }

    CommPort port;
    std::uint8_t buffer[64];
    std::uint32_t count = 0;
};

TEST_F(SerialTest, OpenPortMakesItsCallsInOrderAndLeavesTheLineSettingsAlone)
{
    ASSERT_EQ(openPort(port), 0);

    std::vector<std::string> expected = {"LoadCursorA", "SetCursor",       "CreateFileA", "SetupComm",
                                         "SetCommTimeouts", "GetCommState", "SetCursor",   "Sleep"};
    EXPECT_EQ(fakeCallNames(), expected) << fakeCallLog();
    const std::vector<FakeCall> &calls = fakeCalls();
    EXPECT_EQ(calls[0].text, "LoadCursorA 0 32514");
    EXPECT_EQ(calls[1].text, "SetCursor 32514");
    EXPECT_EQ(calls[2].text, "CreateFileA \\\\.\\Com7 c0000000 0 3 0");
    EXPECT_EQ(calls[3].text, "SetupComm #1 1024 100");
    EXPECT_EQ(calls[7].text, "Sleep 50");
    EXPECT_EQ(fakeCurrentCursor(), fakeArrowCursor());
    EXPECT_NE(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fakePort(portNumber)->dcbApplied, 0);
    EXPECT_EQ(fakeNow() - fakeStartMs, 50u);

    const COMMTIMEOUTS &t = fakePort(portNumber)->timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

    std::size_t before = fakeCalls().size();
    EXPECT_EQ(closePort(port), 0);
    EXPECT_EQ(callNamesFrom(before), (std::vector<std::string>{"PurgeComm", "CloseHandle"}));
    EXPECT_EQ(fakeCalls()[before].text, "PurgeComm #1 15");
}

TEST_F(SerialTest, DeviceNameCarriesThePortNumber)
{
    const struct {
        int number;
        const char *name;
    } cases[] = {{1, "\\\\.\\Com1"}, {999, "\\\\.\\Com999"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.number);
        fakeReset();
        fakeAddPort(c.number);
        port.portNumber = std::uint16_t(c.number);
        ASSERT_EQ(openPort(port), 0);
        EXPECT_EQ(fakeCalls()[2].text, std::string("CreateFileA ") + c.name + " c0000000 0 3 0");
        EXPECT_EQ(closePort(port), 0);
    }
}

TEST_F(SerialTest, OpenPortThatCannotOpenRestoresTheCursorWithoutPausing)
{
    const struct {
        const char *what;
        int number;
        bool held;
        DWORD error;
    } cases[] = {
        {"no such device", 8, false, ERROR_FILE_NOT_FOUND},
        {"port 0", 0, false, ERROR_FILE_NOT_FOUND},
        {"held by another program", portNumber, true, ERROR_ACCESS_DENIED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fakeReset();
        fakeAddPort(portNumber);
        if (c.held)
            fakeHoldPort(portNumber);
        port.portNumber = std::uint16_t(c.number);
        EXPECT_EQ(openPort(port), 1);
        EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(fakeCurrentCursor(), fakeArrowCursor());
        EXPECT_EQ(fakeCallCount("CreateFileA"), 1);
        EXPECT_EQ(fakeCallCount("Sleep"), 0);
        EXPECT_EQ(fakeCallCount("SetupComm"), 0);
        EXPECT_TRUE(fakeCalls()[2].failed);

        std::size_t before = fakeCalls().size();
        EXPECT_EQ(closePort(port), 0);
        EXPECT_EQ(fakeCalls().size(), before);
    }
}

TEST_F(SerialTest, PortNumbersBeyondThreeDigitsOpenNothing)
{
    for (int number : {1000, 65535}) {
        SCOPED_TRACE(number);
        fakeReset();
        fakeAddPort(number);
        port.portNumber = std::uint16_t(number);
        EXPECT_EQ(openPort(port), 1);
        EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(fakeCallCount("CreateFileA"), 0);
        EXPECT_EQ(fakeCurrentCursor(), fakeArrowCursor());
    }
}

TEST_F(SerialTest, OpenPortGivesUpADeviceWhoseSettingsCannotBeRead)
{
    fakeFailCall("GetCommState", 1);
    EXPECT_EQ(openPort(port), 1);
    EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fakeCallCount("CloseHandle"), 1);
    EXPECT_EQ(fakePort(portNumber)->closes, 1);
    EXPECT_EQ(fakeCallCount("Sleep"), 0);
    EXPECT_EQ(fakeCurrentCursor(), fakeArrowCursor());
}

TEST_F(SerialTest, OpenPortIgnoresFailedQueueSizes)
{
    fakeFailCall("SetupComm", 1);
    EXPECT_EQ(openPort(port), 0);
    EXPECT_EQ(fakeCallCount("Sleep"), 1);
    EXPECT_EQ(closePort(port), 0);
}

// A port without its time-outs would let a read wait for ever.
TEST_F(SerialTest, OpenPortFailsWhenTheTimeoutsAreRefused)
{
    fakeFailCall("SetCommTimeouts", 1);
    EXPECT_EQ(openPort(port), 1);
    EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fakePort(portNumber)->closes, 1);
    EXPECT_EQ(fakeCallCount("Sleep"), 0);
    EXPECT_EQ(fakeCurrentCursor(), fakeArrowCursor());
}

TEST_F(SerialTest, SetPortTimeoutsReportsTheOutcome)
{
    ASSERT_EQ(openPort(port), 0);
    EXPECT_EQ(setPortTimeouts(port), 0);
    fakeFailCall("SetCommTimeouts", 3);
    EXPECT_EQ(setPortTimeouts(port), 1);
    closePort(port);
}

TEST_F(SerialTest, ClosePortReportsAFailedClose)
{
    ASSERT_EQ(openPort(port), 0);
    fakeFailCall("CloseHandle", 1);
    EXPECT_EQ(closePort(port), 1);
}

TEST_F(SerialTest, ConfigureLineAppliesTheLineSettingsAndEmptiesTheQueues)
{
    const struct {
        std::uint8_t xonXoff;
        std::uint8_t ctsDsr;
        DWORD flags;
    } cases[] = {
        {0, 0, 0x4001}, {0, 1, 0x400D}, {1, 0, 0x4381}, {1, 1, 0x438D}, {2, 2, 0x4001}, {3, 0, 0x4381},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "xonXoff " << int(c.xonXoff) << " ctsDsr " << int(c.ctsDsr));
        fakeReset();
        fakeAddPort(portNumber);
        port.xonXoff = c.xonXoff;
        port.ctsDsr = c.ctsDsr;
        ASSERT_EQ(openPort(port), 0);
        std::size_t before = fakeCalls().size();
        EXPECT_EQ(configureLine(port), 0);
        EXPECT_EQ(callNamesFrom(before), (std::vector<std::string>{"GetCommState", "SetCommState", "PurgeComm"}));
        EXPECT_EQ(fakeCalls().back().text, "PurgeComm #1 15");

        const DCB &dcb = fakeCalls()[before + 1].dcb;
        EXPECT_EQ(flagWord(dcb), c.flags);
        EXPECT_EQ(dcb.DCBlength, 28u);
        EXPECT_EQ(dcb.BaudRate, 19200u);
        EXPECT_EQ(dcb.wReserved, 0);
        EXPECT_EQ(dcb.XonLim, 100);
        EXPECT_EQ(dcb.XoffLim, 100);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ(dcb.XonChar, 0x11);
        EXPECT_EQ(dcb.XoffChar, 0x13);
        EXPECT_EQ(dcb.ErrorChar, 'X');
        EXPECT_EQ(dcb.EofChar, 0);
        EXPECT_EQ(dcb.EvtChar, 0);
        EXPECT_EQ(dcb.wReserved1, 0);
        EXPECT_EQ(closePort(port), 0);
    }
}

TEST_F(SerialTest, ConfigureLineDropsBytesThatCameBefore)
{
    ASSERT_EQ(openPort(port), 0);
    fakeQueueRead(portNumber, "noise");
    ASSERT_EQ(configureLine(port), 0);
    EXPECT_EQ(drainQuiet(port, 250), 0u);
    closePort(port);
}

TEST_F(SerialTest, ConfigureLineClearsAPendingErrorOnlyWhenThereIsOne)
{
    for (DWORD error : {DWORD(ERROR_GEN_FAILURE), DWORD(0)}) {
        SCOPED_TRACE(error);
        fakeReset();
        fakeAddPort(portNumber);
        ASSERT_EQ(openPort(port), 0);
        fakeFailCall("GetCommState", 2, error);
        EXPECT_EQ(configureLine(port), 0);
        EXPECT_EQ(fakeCallCount("ClearCommError"), error != 0 ? 1 : 0);
        EXPECT_EQ(fakePort(portNumber)->dcbApplied, 1);
        EXPECT_EQ(closePort(port), 0);
    }
}

TEST_F(SerialTest, ConfigureLineClosesThePortWhenTheSettingsAreRefused)
{
    ASSERT_EQ(openPort(port), 0);
    fakeFailCall("SetCommState", 1);
    EXPECT_EQ(configureLine(port), 1);
    EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fakeCallCount("PurgeComm"), 0);
    EXPECT_EQ(fakeCallCount("CloseHandle"), 1);
    std::size_t before = fakeCalls().size();
    EXPECT_EQ(closePort(port), 0);
    EXPECT_EQ(fakeCalls().size(), before);
}

// The way every protocol operation uses the port: open, configure, close
// on every path. Whichever call fails, nothing stays open and no call is
// made on a handle that was given up.
TEST_F(SerialTest, AnyFailingCallLeavesNoHandleOpen)
{
    for (int n = 1; n < 40; ++n) {
        SCOPED_TRACE(n);
        fakeReset();
        fakeAddPort(portNumber);
        fakeFailNthCall(n);
        if (openPort(port) == 0)
            configureLine(port);
        closePort(port);
        EXPECT_EQ(fakeOpenHandles(), 0) << fakeCallLog();
        EXPECT_EQ(fakeMisuseCount(), 0) << joined(fakeMisuses());
        EXPECT_EQ(fakePort(portNumber)->opens, fakePort(portNumber)->closes);
        if (fakeInjectedFailures() == 0)
            return;
    }
    ADD_FAILURE() << "the sequence never ran without meeting the failure";
}

TEST_F(SerialTest, ReadUntilStopsAtTheTerminatorAndLeavesTheRest)
{
    openConfigured();
    fakeQueueRead(portNumber, "OK\r\nXY");
    EXPECT_EQ(readLine(63), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(received(), "OK\r\n");
    EXPECT_EQ(buffer[4], 0);
    for (const FakeCall &call : fakeCalls()) {
        if (call.name == "ReadFile") {
            EXPECT_EQ(call.text, "ReadFile #1 1");
        }
    }

    EXPECT_EQ(readLine(2), 0);
    EXPECT_EQ(received(), "XY");
    EXPECT_EQ(buffer[2], 0);
    closePort(port);
}

TEST_F(SerialTest, ReadUntilWithLimitOneTakesOneByte)
{
    openConfigured();
    fakeQueueRead(portNumber, "OK\r\n");
    EXPECT_EQ(readLine(1), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(received(), "O");
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(fakeCallCount("ReadFile"), 1);
    closePort(port);
}

TEST_F(SerialTest, ReadUntilOnASilentLineEndsWithTheFirstReadPastTheDeadline)
{
    openConfigured();
    unsigned long start = fakeNow();
    EXPECT_EQ(readLine(63, 3), 0);
    unsigned long elapsed = fakeNow() - start;
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], 0);
    // The read that ends the loop began before the deadline and lasts 1001 ms.
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 3000u + 1001);
    closePort(port);
}

TEST_F(SerialTest, ReadUntilKeepsWhatCameBeforeAFailedRead)
{
    openConfigured();
    fakeQueueRead(portNumber, "ABC\r\n");
    fakeFailCall("ReadFile", 3);
    EXPECT_EQ(readLine(63), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(received(), "AB");
    EXPECT_EQ(buffer[2], 0);
    closePort(port);
}

TEST_F(SerialTest, ReadUntilWaitsForBytesThatComeLater)
{
    openConfigured();
    fakeQueueRead(portNumber, "v1.2\r\n", 2500, 1);
    unsigned long start = fakeNow();
    EXPECT_EQ(readLine(63, 15), 0);
    EXPECT_EQ(received(), "v1.2\r\n");
    EXPECT_EQ(fakeNow() - start, 2505u);
    closePort(port);
}

TEST_F(SerialTest, ReadChunkReportsWhatArrivedWithinItsTimeout)
{
    openConfigured();
    fakeQueueRead(portNumber, "OK", 10);
    std::uint8_t bytes[8] = {};
    std::uint32_t wanted = 8;
    EXPECT_EQ(readChunk(port, bytes, &wanted), 0);
    EXPECT_EQ(wanted, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 2), "OK");

    fakeFailCall("ReadFile", 2);
    wanted = 1;
    EXPECT_EQ(readChunk(port, bytes, &wanted), 1);
    EXPECT_EQ(wanted, 0u);
    closePort(port);
}

TEST_F(SerialTest, DrainQuietOnAQuietLineTakesOneReadTimeout)
{
    openConfigured();
    unsigned long start = fakeNow();
    EXPECT_EQ(drainQuiet(port, 250), 0u);
    unsigned long elapsed = fakeNow() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LE(elapsed, 1100u);
    EXPECT_EQ(fakeCallCount("ReadFile"), 1);
    closePort(port);
}

TEST_F(SerialTest, DrainQuietGoesOnWhileBytesKeepComing)
{
    openConfigured();
    // Five bytes 900 ms apart, then one after a gap of 1500 ms.
    fakeQueueRead(portNumber, "abcde", 100, 900);
    fakeQueueRead(portNumber, "z", 100 + 4 * 900 + 1500);
    unsigned long start = fakeNow();
    EXPECT_EQ(drainQuiet(port, 250), 5u);
    EXPECT_GE(fakeNow() - start, 100u + 4 * 900 + 1000);

    std::uint8_t late = 0;
    std::uint32_t one = 1;
    EXPECT_EQ(readChunk(port, &late, &one), 0);
    EXPECT_EQ(one, 1u);
    EXPECT_EQ(late, 'z');
    closePort(port);
}

TEST_F(SerialTest, DrainQuietStopsAtAFailedRead)
{
    openConfigured();
    fakeQueueRead(portNumber, "abcdef", 10, 10);
    fakeFailCall("ReadFile", 3);
    EXPECT_EQ(drainQuiet(port, 250), 2u);
    EXPECT_EQ(fakeCallCount("ReadFile"), 3);
    closePort(port);
}

TEST_F(SerialTest, WriteBytesReportsWhatWentOut)
{
    const struct {
        const char *what;
        int shortTo;    // -1: the whole write goes out
        bool fail;
        std::uint8_t result;
        std::uint32_t count;
        const char *written;
    } cases[] = {
        {"whole", -1, false, 0, 7, "ver\r\n\r\n"},
        {"partial", 3, false, 0, 3, "ver"},
        {"failed", -1, true, 1, 0, ""},
    };
    const std::uint8_t command[] = {'v', 'e', 'r', '\r', '\n', '\r', '\n'};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fakeReset();
        fakeAddPort(portNumber);
        openConfigured();
        if (c.shortTo >= 0)
            fakeShortWrite(1, DWORD(c.shortTo));
        if (c.fail)
            fakeFailCall("WriteFile", 1);
        std::uint32_t n = sizeof command;
        EXPECT_EQ(writeBytes(port, command, &n), c.result);
        EXPECT_EQ(n, c.count);
        EXPECT_EQ(fakeWritten(portNumber), c.written);
        EXPECT_EQ(fakeCallCount("WriteFile"), 1);
        closePort(port);
    }
}

// A charger that answers a command, as the protocol tests script it.
TEST_F(SerialTest, ScriptedReplyFollowsTheCommand)
{
    fakeOnWrite(portNumber, "ver\r", "V 2.07\r\n", 40);
    openConfigured();
    const std::uint8_t command[] = {'v', 'e', 'r', '\r'};
    std::uint32_t n = sizeof command;
    ASSERT_EQ(writeBytes(port, command, &n), 0);
    unsigned long sent = fakeNow();
    EXPECT_EQ(readLine(63, 15), 0);
    EXPECT_EQ(received(), "V 2.07\r\n");
    EXPECT_EQ(fakeNow() - sent, 40u);
    closePort(port);
}

TEST_F(SerialTest, AHungUpLineFailsTheWaitingRead)
{
    openConfigured();
    fakeQueueRead(portNumber, "A", 100);
    fakeHangUp(portNumber, fakeNow() + 600);
    unsigned long start = fakeNow();
    EXPECT_EQ(readLine(63, 15), 1);
    EXPECT_EQ(received(), "A");
    EXPECT_EQ(fakeNow() - start, 600u);
    closePort(port);
}

} // namespace
