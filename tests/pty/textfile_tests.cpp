// Text-mode line reading: the lines a file gives with a limit of 100, as the
// HEX file transfer reads them.
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform.h"

namespace {

struct TextCase {
    const char *name;
    std::string content;
    std::vector<std::string> lines;
};

std::vector<std::string> readAllLines(const std::string &path, bool *endStays)
{
    std::vector<std::string> lines;
    FILE *file = openTextFile(path.c_str());
    if (file == nullptr)
        return lines;
    char buffer[102];
    while (readTextLine(buffer, 100, file) != nullptr)
        lines.push_back(buffer);
    *endStays = readTextLine(buffer, 100, file) == nullptr;
    closeTextFile(file);
    return lines;
}

TEST(TextFile, LinesReadAsTheWindowsRuntimeGivesThem)
{
    const std::string x98(98, 'x');
    const std::string x99(99, 'x');
    const std::string z250(250, 'z');
    const std::vector<TextCase> cases = {
        {"CR LF becomes LF", "a\r\nb\r\n", {"a\n", "b\n"}},
        {"LF alone", "a\nb\n", {"a\n", "b\n"}},
        {"lone CR stays", "a\rb\r\r\nc\r", {"a\rb\r\n", "c\r"}},
        {"CR LF split after 98 characters", x98 + "\r\ny\r\n", {x98 + "\n", "y\n"}},
        {"CR LF after a full piece", x99 + "\r\ny", {x99, "\n", "y"}},
        {"Ctrl-Z ends the file", "a\r\nb\x1A" "c\r\nd\r\n", {"a\n", "b"}},
        {"Ctrl-Z after a CR", "a\r\x1A\n", {"a\r"}},
        {"no line end at the end", ":00000001FF", {":00000001FF"}},
        {"empty file", "", {}},
        {"long line in pieces", z250 + "\n", {std::string(99, 'z'), std::string(99, 'z'), std::string(52, 'z') + "\n"}},
    };

    char pattern[] = "/tmp/korvanel-text-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const TextCase &c : cases) {
        FILE *out = std::fopen(pattern, "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(c.content.data(), 1, c.content.size(), out);
        std::fclose(out);
        bool endStays = false;
        EXPECT_EQ(readAllLines(pattern, &endStays), c.lines) << c.name;
        EXPECT_TRUE(endStays) << c.name;
    }
    unlink(pattern);
}

} // namespace
