// The reply display and the elapsed-time text. printReply shows the whole
// input; formatElapsed gets a capacity of 0 to 16 (the first byte) and a
// millisecond count (the next four bytes) and must never write past the
// capacity, must end what it writes with a NUL, and must give a prefix of the
// full text, which for a count of zero or more reads back as its whole
// seconds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bootloader/display.h"
#include "fuzz_support.h"

namespace {

const std::size_t guard = 16;
const std::size_t largestCapacity = 16;
const unsigned char unwritten = 0xA5;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    printReply((const char *)data, (std::int32_t)size);

    if (size < 5)
        return 0;
    std::size_t capacity = data[0] % (largestCapacity + 1);
    std::uint32_t bits = std::uint32_t(data[1]) | std::uint32_t(data[2]) << 8 | std::uint32_t(data[3]) << 16 |
                         std::uint32_t(data[4]) << 24;
    std::int32_t milliseconds;
    std::memcpy(&milliseconds, &bits, sizeof milliseconds);

    char full[64];
    formatElapsed(full, sizeof full, milliseconds);
    std::size_t fullLength = strnlen(full, sizeof full);
    FUZZ_CHECK(fullLength < sizeof full, "no NUL in a 64-byte buffer");

    unsigned char area[guard + largestCapacity + guard];
    std::memset(area, unwritten, sizeof area);
    char *buffer = (char *)area + guard;
    std::string detail = "capacity " + std::to_string(capacity) + ", " + std::to_string(milliseconds) + " ms, full \"" +
                         escaped(full) + "\"";
    FUZZ_CHECK(formatElapsed(buffer, capacity, milliseconds) == buffer, detail);
    for (std::size_t i = 0; i < sizeof area; ++i) {
        if (i < guard || i >= guard + capacity)
            FUZZ_CHECK(area[i] == unwritten, detail + ": byte " + std::to_string(long(i) - long(guard)) + " written");
    }
    if (capacity > 0) {
        std::size_t length = strnlen(buffer, capacity);
        FUZZ_CHECK(length < capacity, detail + ": no NUL within the capacity");
        FUZZ_CHECK(length == std::min(fullLength, capacity - 1) && std::memcmp(buffer, full, length) == 0,
                   detail + ": got \"" + escaped(std::string(buffer, length)) + "\"");
    }

    if (milliseconds >= 0) {
        unsigned hours = 0, minutes = 0, seconds = 0;
        int used = 0;
        int fields = std::sscanf(full, "%u:%2u:%2u%n", &hours, &minutes, &seconds, &used);
        FUZZ_CHECK(fields == 3 && std::size_t(used) == fullLength && fullLength >= 8, detail);
        FUZZ_CHECK(minutes < 60 && seconds < 60, detail);
        FUZZ_CHECK(std::int64_t(hours) * 3600 + minutes * 60 + seconds == milliseconds / 1000, detail);
    }
    return 0;
}
