// The reply display and progress text of the one rewritten console line.
#ifndef KORVANEL_DISPLAY_H
#define KORVANEL_DISPLAY_H

#include <cstddef>
#include <cstdint>

// Shows count received bytes with control bytes made visible and CR and LF
// dropped: "[]" for none, nothing for a negative count.
void printReply(const char *bytes, std::int32_t count);

// Writes elapsed milliseconds as "hh:mm:ss" (hours may grow past two digits)
// into buffer, never past capacity; returns buffer.
char *formatElapsed(char *buffer, std::size_t capacity, std::int32_t milliseconds);

// The file's length on disk in bytes; 0 when it cannot be opened or measured.
std::int32_t fileSize(const char *path);

#endif
