// The serial port of the POSIX layer, driven through the serial code and the
// Windows calls against a pseudo-terminal that stands in for a COM port.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "pty_support.h"
#include "serial/comm_port.h"

namespace {

const std::uint16_t ptyPortNumber = 7;

// A pseudo-terminal reachable as COM7 through $KORVANEL_COMDIR/com7.
struct PtyPort : ::testing::Test {
    int master = -1;
    std::string slavePath;
    std::string directory;

    void SetUp() override
    {
        char pattern[] = "/tmp/korvanel-pty-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        master = openPtyMaster(&slavePath);
        ASSERT_GE(master, 0);
        ASSERT_EQ(symlink(slavePath.c_str(), comPath(ptyPortNumber).c_str()), 0);
        setenv("KORVANEL_COMDIR", directory.c_str(), 1);
    }

    void TearDown() override
    {
        unsetenv("KORVANEL_COMDIR");
        if (master >= 0)
            close(master);
        for (int number : {int(ptyPortNumber), 9})
            unlink(comPath(number).c_str());
        rmdir(directory.c_str());
    }

    std::string comPath(int number) const { return directory + "/com" + std::to_string(number); }

    void openConfigured(CommPort &port)
    {
        port.portNumber = ptyPortNumber;
        ASSERT_EQ(openPort(port), 0);
        ASSERT_EQ(configureLine(port), 0);
    }
};

HANDLE openByName(const char *name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(PtyPort, EveryByteValuePassesUnchangedBothWays)
{
    CommPort port = makeCommPort();
    openConfigured(port);

    DCB state;
    ASSERT_TRUE(GetCommState(port.handle, &state));
    EXPECT_EQ(state.DCBlength, 28u);
    EXPECT_EQ(state.BaudRate, 19200u);
    EXPECT_EQ(state.ByteSize, 8);
    EXPECT_EQ(state.Parity, NOPARITY);
    EXPECT_EQ(state.StopBits, ONESTOPBIT);

    std::uint8_t all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = std::uint8_t(i);

    ASSERT_EQ(write(master, all, sizeof all), ssize_t(sizeof all));
    std::uint8_t received[256] = {};
    std::uint32_t count = sizeof received;
    EXPECT_EQ(readChunk(port, received, &count), 0);
    ASSERT_EQ(count, 256u);
    EXPECT_EQ(std::memcmp(received, all, sizeof all), 0);

    count = sizeof all;
    EXPECT_EQ(writeBytes(port, all, &count), 0);
    EXPECT_EQ(count, 256u);
    std::uint8_t sent[257] = {};
    // One byte more than was sent: an echo or a translated line end would show.
    EXPECT_EQ(readWithin(master, sent, sizeof sent, 500), 256u);
    EXPECT_EQ(std::memcmp(sent, all, sizeof all), 0);

    EXPECT_EQ(closePort(port), 0);
}

TEST_F(PtyPort, OneByteReadReturnsWithAWaitingByteAtOnceAndOtherwiseAfterItsTimeout)
{
    CommPort port = makeCommPort();
    openConfigured(port);

    ASSERT_EQ(write(master, "k", 1), 1);
    std::uint8_t byte = 0;
    std::uint32_t count = 1;
    long long start = monotonicMs();
    EXPECT_EQ(readChunk(port, &byte, &count), 0);
    EXPECT_LT(monotonicMs() - start, 500);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(byte, 'k');

    count = 1;
    start = monotonicMs();
    EXPECT_EQ(readChunk(port, &byte, &count), 0);
    long long elapsed = monotonicMs() - start;
    EXPECT_EQ(count, 0u);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 2000);

    EXPECT_EQ(closePort(port), 0);
}

// Bytes taken from the terminal ahead of the one-byte reads wait in the
// port's input queue: counted by ClearCommError, delivered in order, and
// thrown away by a purge.
TEST_F(PtyPort, BytesReadAheadBehaveAsTheInputQueue)
{
    CommPort port = makeCommPort();
    openConfigured(port);

    ASSERT_EQ(write(master, "OK\r\nrest", 8), 8);
    std::uint8_t reply[16] = {};
    std::uint32_t count = sizeof reply - 1;
    EXPECT_EQ(readUntil(port, reply, '\n', 3, &count), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply), count), "OK\r\n");

    DWORD errors = 1;
    COMSTAT status;
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 4u);

    std::uint8_t byte = 0;
    count = 1;
    EXPECT_EQ(readChunk(port, &byte, &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(byte, 'r');

    ASSERT_TRUE(PurgeComm(port.handle, PURGE_RXABORT | PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    ASSERT_EQ(write(master, "n", 1), 1);
    count = 1;
    EXPECT_EQ(readChunk(port, &byte, &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(byte, 'n');

    EXPECT_EQ(closePort(port), 0);
}

TEST_F(PtyPort, PortIsHeldExclusivelyAndFreedByTheClose)
{
    // Opened before the port, this descriptor is not refused and shows the
    // terminal's exclusive flag, whatever the user running the test.
    int observer = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(observer, 0);

    HANDLE first = openByName("\\\\.\\Com7");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    int exclusive = 0;
    ASSERT_EQ(ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE second = openByName("\\\\.\\Com7");
        _exit(second == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened the held port";

    EXPECT_EQ(openByName("\\\\.\\Com7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(CloseHandle(first));
    ASSERT_EQ(ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    CommPort port = makeCommPort();
    port.portNumber = ptyPortNumber;
    EXPECT_EQ(openPort(port), 0);
    EXPECT_EQ(closePort(port), 0);
    close(observer);
}

TEST_F(PtyPort, NamesThatReachNoTerminalFailAsNotFound)
{
    // A regular file is no communications port.
    int plain = open(comPath(9).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(plain, 0);
    close(plain);

    HANDLE handle = openByName("\\\\.\\COM7");
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);

    const char *refused[] = {
        "\\\\.\\Com8", "\\\\.\\Com9", "\\\\.\\Com", "\\\\.\\Com7x", "\\\\.\\Com-7", "\\\\.\\LPT7", "Com7", "COM7",
    };
    for (const char *name : refused) {
        EXPECT_EQ(openByName(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }

    CommPort port = makeCommPort();
    for (std::uint16_t number : {std::uint16_t(8), std::uint16_t(1000)}) {
        port.portNumber = number;
        EXPECT_EQ(openPort(port), 1) << number;
        EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE) << number;
    }

    // Without the directory, numbers outside the serial, USB and ACM ranges
    // name no device.
    unsetenv("KORVANEL_COMDIR");
    for (const char *name : {"\\\\.\\Com0", "\\\\.\\Com97"}) {
        EXPECT_EQ(openByName(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
}

TEST_F(PtyPort, HangUpMakesReadsAndWritesFailPromptly)
{
    CommPort port = makeCommPort();
    openConfigured(port);
    close(master);
    master = -1;

    std::uint8_t byte = 0;
    std::uint32_t count = 1;
    long long start = monotonicMs();
    EXPECT_EQ(readChunk(port, &byte, &count), 1);
    EXPECT_LT(monotonicMs() - start, 500);
    EXPECT_EQ(count, 0u);
    DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_GEN_FAILURE) << error;

    count = 1;
    EXPECT_EQ(writeBytes(port, &byte, &count), 1);
    closePort(port);
}

} // namespace
