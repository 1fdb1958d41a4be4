#include "bootloader/display.h"

#include <cstdio>

#include "platform.h"

void printReply(const char *bytes, std::int32_t count)
{
    if (count == 0) {
        std::fputs("[]", stdout);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        unsigned char byte = (unsigned char)bytes[i];
        if (byte == 0x00)
            std::fputs("[0]", stdout);
        else if (byte == 0x02)
            std::fputs("[2]", stdout);
        else if (byte != '\n' && byte != '\r')
            std::putchar(byte);
    }
}

char *formatElapsed(char *buffer, std::size_t capacity, std::int32_t milliseconds)
{
    if (capacity == 0)
        return buffer;
    std::int32_t wholeSeconds = milliseconds / 1000;
    std::int32_t hours = wholeSeconds / 3600;
    std::int32_t minutes = (wholeSeconds - hours * 3600) / 60;
    std::int32_t seconds = wholeSeconds % 60;
    std::snprintf(buffer, capacity, "%02u:%02u:%02u", (unsigned)hours, (unsigned)minutes, (unsigned)seconds);
    return buffer;
}

std::int32_t fileSize(const char *path)
{
    FILE *file = openTextFile(path);
    if (!file)
        return 0;
    if (std::fseek(file, 0, SEEK_END) != 0) {
        closeTextFile(file);
        return 0;
    }
    long position = std::ftell(file);
    closeTextFile(file);
    // A failed tell, or a file too large for the count, gives no percentage
    // rather than a wrong one.
    if (position < 0 || position > 0x7FFFFFFFL)
        return 0;
    return (std::int32_t)position;
}
