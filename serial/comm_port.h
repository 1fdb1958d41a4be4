// One serial port, opened as a file, with fixed queue sizes, time-outs and
// line settings. Prints nothing: every outcome is a result for the caller.
#ifndef KORVANEL_COMM_PORT_H
#define KORVANEL_COMM_PORT_H

#include <cstdint>

#include "winapi.h"

struct CommPort {
    HANDLE handle;            // INVALID_HANDLE_VALUE while no port is open
    std::uint16_t portNumber; // N of ComN
    std::uint32_t baudRate;
    std::uint8_t byteSize;
    std::uint8_t parity;      // as DCB.Parity takes it
    std::uint8_t stopBits;    // as DCB.StopBits takes it
    std::uint8_t xonXoff;     // only bit 0 counts
    std::uint8_t ctsDsr;      // only bit 0 counts
};

// A record as every run creates it: no port open, COM1, 19200 8N1, no flow control.
CommPort makeCommPort();

std::uint8_t openPort(CommPort &port);
std::uint8_t configureLine(CommPort &port);
std::int32_t setPortTimeouts(CommPort &port);
std::uint8_t closePort(CommPort &port);
std::uint8_t readChunk(CommPort &port, std::uint8_t *destination, std::uint32_t *count);
std::uint8_t writeBytes(CommPort &port, const std::uint8_t *source, std::uint32_t *count);
std::uint8_t readUntil(CommPort &port, std::uint8_t *destination, std::uint8_t terminator,
                       std::int32_t timeoutSeconds, std::uint32_t *limit);
std::uint32_t drainQuiet(CommPort &port, std::uint32_t quietMs);

#endif
