#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bootloader/display.h"
#include "test_files.h"

namespace {

std::string shown(const std::string &bytes, std::int32_t count)
{
    testing::internal::CaptureStdout();
    printReply(bytes.data(), count);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(PrintReply, MakesControlBytesVisibleAndDropsLineEnds)
{
    struct Case {
        std::string bytes;
        std::int32_t count;
        std::string expected;
    };
    const Case cases[] = {
        {"", 0, "[]"},
        {"OK", -1, ""},
        {"OK\r\n", 4, "OK"},
        {std::string("\x02" "A\0B", 4), 4, "[2]A[0]B"},
        {std::string("A\0\0C\r\n", 6), 6, "A[0][0]C"},
        {"\x01\x03\t\x1b\x7f\xff", 6, "\x01\x03\t\x1b\x7f\xff"},
        {"ABCDEF", 3, "ABC"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown(c.bytes, c.count), c.expected) << "count " << c.count;
}

TEST(FormatElapsed, RendersHoursMinutesSeconds)
{
    struct Case {
        std::int32_t milliseconds;
        const char *text;
    };
    const Case cases[] = {
        {0, "00:00:00"},
        {999, "00:00:00"},
        {1999, "00:00:01"},
        {61000, "00:01:01"},
        {3599999, "00:59:59"},
        {3600000, "01:00:00"},
        {(25 * 3600 + 61) * 1000, "25:01:01"},
        {100 * 3600 * 1000, "100:00:00"},
        {2147483647, "596:31:23"},
    };
    for (const Case &c : cases) {
        char buffer[512];
        EXPECT_STREQ(formatElapsed(buffer, sizeof buffer, c.milliseconds), c.text) << c.milliseconds;
    }
}

TEST(FormatElapsed, NeverWritesPastTheCapacity)
{
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    formatElapsed(buffer, 5, 3600000);
    EXPECT_STREQ(buffer, "01:0");
    EXPECT_EQ(buffer[5], '#');
}

TEST(FileSize, IsTheSizeOnDisk)
{
    TempDir dir;
    std::string crlf;
    for (int i = 0; i < 10; ++i)
        crlf += std::string(43, 'A') + "\r\n";
    EXPECT_EQ(fileSize(writeFile(dir, "crlf.hex", crlf).c_str()), 450);
    EXPECT_EQ(fileSize(writeFile(dir, "empty.hex", "").c_str()), 0);
    EXPECT_EQ(fileSize((dir.path + "/missing.hex").c_str()), 0);
}

} // namespace
