#include "serial/comm_port.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

const DWORD inputQueueBytes = 1024;
const DWORD outputQueueBytes = 100;
const DWORD openSettleMs = 50;
const DWORD purgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

} // namespace

CommPort makeCommPort()
{
    CommPort port;
    port.handle = INVALID_HANDLE_VALUE;
    port.portNumber = 1;
    port.baudRate = 19200;
    port.byteSize = 8;
    port.parity = NOPARITY;
    port.stopBits = ONESTOPBIT;
    port.xonXoff = 0;
    port.ctsDsr = 0;
    return port;
}

std::uint8_t openPort(CommPort &port)
{
    HCURSOR keptCursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));

    // "\\.\Com" and at most three digits fill the 11-byte buffer. A longer
    // number would be cut short and name another port (COM1000 as COM100),
    // so such a number opens nothing.
    char deviceName[11];
    int length = std::snprintf(deviceName, sizeof deviceName, "\\\\.\\Com%d", int(port.portNumber));
    if (length < 0 || length >= int(sizeof deviceName)) {
        port.handle = INVALID_HANDLE_VALUE;
        SetCursor(keptCursor);
        return 1;
    }

    port.handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port.handle == INVALID_HANDLE_VALUE) {
        SetCursor(keptCursor);
        return 1;
    }

    SetupComm(port.handle, inputQueueBytes, outputQueueBytes);

    // Without its time-outs a read could wait for ever on a silent line, so
    // a port that refuses them is no usable port. Reading the settings then
    // tells a working communications port from any other device that opens.
    DCB scratch;
    std::memset(&scratch, 0, sizeof scratch);
    scratch.DCBlength = sizeof scratch;
    if (setPortTimeouts(port) != 0 || !GetCommState(port.handle, &scratch)) {
        CloseHandle(port.handle);
        port.handle = INVALID_HANDLE_VALUE;
        SetCursor(keptCursor);
        return 1;
    }

    SetCursor(keptCursor);
    Sleep(openSettleMs);
    return 0;
}

std::int32_t setPortTimeouts(CommPort &port)
{
    // A one-byte read returns as soon as a byte is there, or after
    // 1000 + 1 ms with none; a write of n bytes gets 1000 + n ms.
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return SetCommTimeouts(port.handle, &timeouts) ? 0 : 1;
}

std::uint8_t configureLine(CommPort &port)
{
    DCB current;
    std::memset(&current, 0, sizeof current);
    current.DCBlength = sizeof current;
    if (!GetCommState(port.handle, &current) && GetLastError() != 0) {
        // A pending line error would make the driver refuse the port.
        DWORD errors = 0;
        COMSTAT status;
        ClearCommError(port.handle, &errors, &status);
    }

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = port.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = port.ctsDsr & 1;
    dcb.fOutxDsrFlow = port.ctsDsr & 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = port.xonXoff & 1;
    dcb.fOutX = port.xonXoff & 1;
    dcb.fInX = port.xonXoff & 1;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = port.byteSize;
    dcb.Parity = port.parity;
    dcb.StopBits = port.stopBits;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0x58;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;

    if (SetCommState(port.handle, &dcb)) {
        PurgeComm(port.handle, purgeAll);
        return 0;
    }
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
    return 1;
}

std::uint8_t closePort(CommPort &port)
{
    if (port.handle == INVALID_HANDLE_VALUE)
        return 0;
    PurgeComm(port.handle, purgeAll);
    return CloseHandle(port.handle) ? 0 : 1;
}

std::uint8_t readChunk(CommPort &port, std::uint8_t *destination, std::uint32_t *count)
{
    DWORD received = 0;
    BOOL ok = ReadFile(port.handle, destination, *count, &received, nullptr);
    *count = received;
    return ok ? 0 : 1;
}

std::uint8_t writeBytes(CommPort &port, const std::uint8_t *source, std::uint32_t *count)
{
    DWORD written = 0;
    BOOL ok = WriteFile(port.handle, source, *count, &written, nullptr);
    *count = written;
    return ok ? 0 : 1;
}

std::uint8_t readUntil(CommPort &port, std::uint8_t *destination, std::uint8_t terminator,
                       std::int32_t timeoutSeconds, std::uint32_t *limit)
{
    const unsigned long deadline = clockMs() + (unsigned long)(long(timeoutSeconds) * 1000L);
    std::uint32_t received = 0;
    bool done = false;
    bool failed = false;
    for (;;) {
        std::uint8_t byte = 0;
        std::uint32_t count = 1;
        failed = readChunk(port, &byte, &count) != 0;
        if (count > 0) {
            destination[received++] = byte;
            if (byte == terminator || received == *limit)
                done = true;
        }
        if ((long)(clockMs() - deadline) >= 0)
            done = true;
        if (failed || done)
            break;
    }
    *limit = received;
    destination[received] = 0;
    return failed ? 1 : 0;
}

std::uint32_t drainQuiet(CommPort &port, std::uint32_t quietMs)
{
    unsigned long deadline = clockMs() + quietMs;
    std::uint32_t discarded = 0;
    for (;;) {
        std::uint8_t scratch = 0;
        std::uint32_t count = 1;
        bool failed = readChunk(port, &scratch, &count) != 0;
        if (!failed && count > 0) {
            discarded += count;
            deadline = clockMs() + quietMs;
        }
        if (failed || (long)(clockMs() - deadline) >= 0)
            break;
    }
    return discarded;
}
