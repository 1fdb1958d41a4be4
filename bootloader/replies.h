// Reading the bootloader's reply lines and the two version queries.
#ifndef KORVANEL_REPLIES_H
#define KORVANEL_REPLIES_H

#include <cstdint>

#include "serial/comm_port.h"

// The minimum bootloader version given on the command line. Written by the
// front end before the first query, read only by checkBootloaderVersion.
extern std::int32_t minBootloaderCheck;
extern std::uint8_t minBootloaderMajor;
extern std::uint8_t minBootloaderMinor;

// Reads one reply line ended by LF into buffer. length: in, the buffer's
// size (at least 2); out, the bytes stored before the closing NUL.
// Gives 1 for a complete line ending in CR LF, else 0.
std::uint8_t readReply(CommPort &port, char *buffer, std::uint32_t *length, std::int32_t timeoutSeconds);

// "ver\r": prints the charger's firmware version. 0 answered, 1 not.
int queryVersion(CommPort &port);

// "btv\r": prints the bootloader version and compares it with the minimum.
// 0 when it is at least the minimum, 1 otherwise.
int checkBootloaderVersion(CommPort &port);

#endif
