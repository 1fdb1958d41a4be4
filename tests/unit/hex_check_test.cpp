#include <gtest/gtest.h>

#include <string>

#include "bootloader/hex_check.h"
#include "platform.h"
#include "test_files.h"

namespace {

const std::string endRecord = ":00000001FF";

HexCheck checkText(const std::string &text)
{
    TempDir dir;
    std::string path = writeFile(dir, "fw.hex", text);
    FILE *file = openTextFile(path.c_str());
    HexCheck check = checkHexPieces(file);
    closeTextFile(file);
    return check;
}

TEST(HexRecord, WellFormedRecordsPassAndMalformedOnesFail)
{
    const std::string good = hexRecord(0x0100, 0, {0x21, 0x46, 0x01, 0x36});
    std::string badChecksum = good;
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    std::string lowerCase = good;
    for (char &c : lowerCase)
        c = char(std::tolower((unsigned char)c));

    struct Case {
        std::string line;
        bool wellFormed;
    };
    const Case cases[] = {
        {good, true},
        {lowerCase, true},
        {good + "  \t", true},
        {good + "\r", true},
        {"", true},
        {"   ", true},
        {endRecord, true},
        {hexRecord(0, 0, std::vector<unsigned>(255, 0xAB)), true},
        {badChecksum, false},
        {good.substr(1), false},                       // no colon
        {" " + good, false},                           // leading blank
        {good.substr(0, good.size() - 2), false},      // count does not match the data
        {good + "00", false},                          // one byte too many
        {good.substr(0, good.size() - 1), false},      // odd number of digits
        {good.substr(0, 5) + "G" + good.substr(6), false},
        {good.substr(0, 9) + " " + good.substr(9), false},
        {":", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isWellFormedRecord(c.line.data(), c.line.size()), c.wellFormed) << "'" << c.line << "'";
}

TEST(HexRecord, EndOfFileRecordIsKnownByItsFirstElevenCharactersInAnyCase)
{
    EXPECT_TRUE(isEndOfFileRecord(":00000001FF\n"));
    EXPECT_TRUE(isEndOfFileRecord(":00000001ff"));
    EXPECT_TRUE(isEndOfFileRecord(":00000001FFtrailing"));
    EXPECT_FALSE(isEndOfFileRecord(":00000001F"));
    EXPECT_FALSE(isEndOfFileRecord(" :00000001FF"));
    EXPECT_FALSE(isEndOfFileRecord(""));
}

TEST(HexCheckFile, AcceptsWhatTheTransferCanComplete)
{
    const std::string a = hexRecord(0, 0, {1, 2, 3, 4});
    const std::string b = hexRecord(4, 0, {5, 6, 7, 8});
    const std::string longRecord = hexRecord(8, 0, std::vector<unsigned>(80, 0x5A)); // 171 characters

    const std::string files[] = {
        a + "\r\n" + b + "\r\n" + endRecord + "\r\n",
        a + "\n" + b + "\n" + endRecord + "\n",
        a + "\n\n" + b + "\n" + endRecord,                      // empty line, no final line end
        a + "\r\n" + longRecord + "\r\n" + endRecord + "\r\n",  // sent in pieces of 99
        a + "\n" + endRecord + "\n" + "garbage after the end\n",
        a + "\n" + ":00000001ff\n",
    };
    for (const std::string &text : files)
        EXPECT_EQ(checkText(text).result, hexCheckOk) << text;
}

TEST(HexCheckFile, RefusesFilesThatCannotBeSentWhole)
{
    const std::string a = hexRecord(0, 0, {1, 2, 3, 4});
    std::string corrupt = hexRecord(4, 0, {5, 6, 7, 8});
    corrupt[3] = corrupt[3] == '0' ? '1' : '0';

    struct Case {
        std::string text;
        HexCheckResult result;
        std::uint32_t line;
    };
    const Case cases[] = {
        {"", hexCheckNoEndRecord, 0},
        {a + "\r\n" + a + "\r\n", hexCheckNoEndRecord, 0},
        {a + "\r\n" + a, hexCheckNoEndRecord, 0},
        {a + "\r\n\r\n" + corrupt + "\r\n" + endRecord + "\r\n", hexCheckBadRecord, 3},
        {a + "\n" + a.substr(0, 12) + "\n" + endRecord + "\n", hexCheckBadRecord, 2},
        {a + "\n" + std::string(a.data(), 5) + std::string(1, '\0') + a.substr(6) + "\n" + endRecord + "\n",
         hexCheckBadRecord, 2},
        {std::string(250, 'A') + "\n" + endRecord + "\n", hexCheckBadRecord, 1},
        // NULs that fill a whole piece, or run to its end, are still NULs.
        {std::string(99, '\0') + "\r\n" + endRecord + "\r\n", hexCheckBadRecord, 1},
        {a.substr(0, 9) + std::string(90, '\0') + a.substr(9) + "\n" + endRecord + "\n", hexCheckBadRecord, 1},
        {std::string(5000, ' ') + "x\n" + endRecord + "\n", hexCheckBadRecord, 1},
        // A Ctrl-Z ends the file before the end record is reached.
        {a + "\r\n\x1a" + endRecord + "\r\n", hexCheckNoEndRecord, 0},
        // A record broken by a lone CR is no record.
        {a.substr(0, 10) + "\r" + a.substr(10) + "\n" + endRecord + "\n", hexCheckBadRecord, 1},
    };
    for (const Case &c : cases) {
        HexCheck check = checkText(c.text);
        EXPECT_EQ(check.result, c.result) << c.text.substr(0, 60);
        if (c.result == hexCheckBadRecord) {
            EXPECT_EQ(check.badLine, c.line) << c.text.substr(0, 60);
        }
    }
}

} // namespace
