// The Windows serial calls that korvanel makes, carried out on a POSIX
// terminal device. A handle is a record of our own that holds the open file
// descriptor and the time-outs that the Windows driver would keep for it.
#include "winapi.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes taken from the terminal ahead of the caller, as the driver's input
// queue would hold them: a reply read one byte per call then costs one
// read of the terminal, not one per byte.
const DWORD readAheadSize = 1024;

struct PortRecord {
    int fd;
    COMMTIMEOUTS timeouts;
    BYTE ahead[readAheadSize];
    DWORD aheadStart;
    DWORD aheadCount;
};

// The records handed out and not yet closed; a handle is valid only while
// it is listed here, so a stale or made-up handle is caught, not used.
std::vector<PortRecord *> openRecords;

DWORD lastError = ERROR_SUCCESS;

BOOL fail(DWORD error)
{
    lastError = error;
    return FALSE;
}

DWORD errorFromErrno(int number)
{
    switch (number) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EIO:
    case ENXIO:
    case ENODEV:
        return ERROR_DEVICE_NOT_CONNECTED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

BOOL failFromErrno()
{
    return fail(errorFromErrno(errno));
}

PortRecord *findRecord(HANDLE handle)
{
    for (PortRecord *record : openRecords) {
        if (record == handle)
            return record;
    }
    lastError = ERROR_INVALID_HANDLE;
    return nullptr;
}

// The device that stands for port N; empty when N names none.
std::string devicePath(unsigned long number)
{
    const char *directory = std::getenv("KORVANEL_COMDIR");
    if (directory != nullptr)
        return std::string(directory) + "/com" + std::to_string(number);
    if (number >= 1 && number <= 32)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 33 && number <= 64)
        return "/dev/ttyUSB" + std::to_string(number - 33);
    if (number >= 65 && number <= 96)
        return "/dev/ttyACM" + std::to_string(number - 65);
    return std::string();
}

// Reads the N of "\\.\ComN"; false for any other name.
bool parsePortName(const char *name, unsigned long *number)
{
    const char prefix[] = "\\\\.\\com";
    const std::size_t prefixLength = sizeof prefix - 1;
    if (name == nullptr || std::strlen(name) <= prefixLength)
        return false;
    for (std::size_t i = 0; i < prefixLength; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    const char *digits = name + prefixLength;
    if (std::strlen(digits) > 9)
        return false;
    unsigned long value = 0;
    for (const char *p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
    }
    *number = value;
    return true;
}

long long nowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

const long long noDeadline = LLONG_MAX;

// Waits until the descriptor is ready for the given events or the deadline
// passes; a deadline already passed still takes one look without waiting.
// Returns the events seen, 0 on time-out, -1 with errno on failure.
int waitReady(int fd, short events, long long deadline)
{
    for (;;) {
        pollfd entry;
        entry.fd = fd;
        entry.events = events;
        entry.revents = 0;
        timespec limit;
        timespec *limitPointer = nullptr;
        if (deadline != noDeadline) {
            long long remaining = deadline - nowNs();
            if (remaining < 0)
                remaining = 0;
            limit.tv_sec = time_t(remaining / 1000000000LL);
            limit.tv_nsec = long(remaining % 1000000000LL);
            limitPointer = &limit;
        }
        int ready = ppoll(&entry, 1, limitPointer, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ready;
        if (entry.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        return entry.revents;
    }
}

long long deadlineAfterMs(unsigned long long ms)
{
    return nowNs() + (long long)(ms * 1000000ULL);
}

// Hands out up to count bytes read ahead; returns how many.
DWORD takeAhead(PortRecord &record, BYTE *destination, DWORD count)
{
    DWORD taken = count < record.aheadCount ? count : record.aheadCount;
    std::memcpy(destination, record.ahead + record.aheadStart, taken);
    record.aheadStart += taken;
    record.aheadCount -= taken;
    return taken;
}

struct BaudEntry {
    DWORD rate;
    speed_t code;
};

const BaudEntry baudTable[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedForRate(DWORD rate, speed_t *code)
{
    for (const BaudEntry &entry : baudTable) {
        if (entry.rate == rate) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

DWORD rateForSpeed(speed_t code)
{
    for (const BaudEntry &entry : baudTable) {
        if (entry.code == code)
            return entry.rate;
    }
    return 0;
}

// Switches a modem line; a device without modem lines (a pseudo-terminal)
// is no failure.
bool setModemLine(int fd, int line, bool on)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}

} // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    unsigned long number = 0;
    if (!parsePortName(lpFileName, &number)) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::string path = devicePath(number);
    if (path.empty()) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }

    // Non-blocking, so that a line without carrier cannot hold up the open;
    // every transfer waits with poll and its own time-out.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    if (!isatty(fd)) {
        close(fd);
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    // The lock keeps out every other program that opens the port through
    // this layer, root included; TIOCEXCL keeps out other programs too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        DWORD error = errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : errorFromErrno(errno);
        close(fd);
        lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        DWORD error = errorFromErrno(errno);
        close(fd);
        lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    // Reads wait in poll, so the driver is never asked to wait for bytes.
    termios settings;
    if (tcgetattr(fd, &settings) == 0 && (settings.c_cc[VMIN] != 0 || settings.c_cc[VTIME] != 0)) {
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &settings);
    }

    PortRecord *record = new PortRecord;
    record->fd = fd;
    std::memset(&record->timeouts, 0, sizeof record->timeouts);
    record->aheadStart = 0;
    record->aheadCount = 0;
    openRecords.push_back(record);
    lastError = ERROR_SUCCESS;
    return record;
}

BOOL CloseHandle(HANDLE hObject)
{
    PortRecord *record = findRecord(hObject);
    if (record == nullptr)
        return FALSE;
    for (std::size_t i = 0; i < openRecords.size(); ++i) {
        if (openRecords[i] == record) {
            openRecords.erase(openRecords.begin() + long(i));
            break;
        }
    }
    // On a pseudo-terminal the exclusive flag outlives the close and would
    // refuse the next open, ours included.
    ioctl(record->fd, TIOCNXCL);
    int closed = close(record->fd);
    int closeErrno = errno;
    delete record;
    if (closed != 0 && closeErrno != EINTR) {
        errno = closeErrno;
        return failFromErrno();
    }
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = 0;
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead > 0))
        return fail(ERROR_INVALID_PARAMETER);

    const COMMTIMEOUTS &t = record->timeouts;
    // The Windows driver's rules: MAXDWORD interval with no total time-out
    // returns at once with what is there; MAXDWORD interval and multiplier
    // with a constant returns with the first bytes or after the constant;
    // otherwise the read ends when all bytes came, the total time of
    // n * multiplier + constant ran out, or the gap after a byte exceeded
    // the interval time-out. No time-out at all waits for every byte.
    bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    bool returnOnAny = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                       t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;

    long long deadline = noDeadline;
    if (returnAtOnce)
        deadline = nowNs();
    else if (returnOnAny)
        deadline = deadlineAfterMs(t.ReadTotalTimeoutConstant);
    else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        deadline = deadlineAfterMs((unsigned long long)nNumberOfBytesToRead * t.ReadTotalTimeoutMultiplier +
                                   t.ReadTotalTimeoutConstant);

    BYTE *destination = static_cast<BYTE *>(lpBuffer);
    DWORD received = takeAhead(*record, destination, nNumberOfBytesToRead);
    long long gapDeadline = noDeadline;
    if (received > 0) {
        if (returnOnAny)
            deadline = nowNs();
        if (useInterval)
            gapDeadline = deadlineAfterMs(t.ReadIntervalTimeout);
    }
    BOOL result = TRUE;
    while (received < nNumberOfBytesToRead) {
        long long waitUntil = deadline < gapDeadline ? deadline : gapDeadline;
        int events = waitReady(record->fd, POLLIN, waitUntil);
        if (events < 0) {
            result = failFromErrno();
            break;
        }
        if (events == 0)
            break;
        ssize_t got = read(record->fd, record->ahead, sizeof record->ahead);
        if (got > 0) {
            record->aheadStart = 0;
            record->aheadCount = DWORD(got);
            received += takeAhead(*record, destination + received, nNumberOfBytesToRead - received);
            if (returnOnAny)
                deadline = nowNs();
            if (useInterval)
                gapDeadline = deadlineAfterMs(t.ReadIntervalTimeout);
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            result = failFromErrno();
            break;
        }
        // A hung-up terminal reads as end of file: the device is gone.
        if (events & (POLLHUP | POLLERR)) {
            result = fail(ERROR_DEVICE_NOT_CONNECTED);
            break;
        }
        // Readiness without a byte must not keep the read past its time.
        if (waitUntil != noDeadline && nowNs() >= waitUntil)
            break;
    }
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = received;
    return result;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = 0;
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0))
        return fail(ERROR_INVALID_PARAMETER);

    const COMMTIMEOUTS &t = record->timeouts;
    long long deadline = noDeadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
        deadline = deadlineAfterMs((unsigned long long)nNumberOfBytesToWrite * t.WriteTotalTimeoutMultiplier +
                                   t.WriteTotalTimeoutConstant);

    const BYTE *source = static_cast<const BYTE *>(lpBuffer);
    DWORD written = 0;
    BOOL result = TRUE;
    while (written < nNumberOfBytesToWrite) {
        ssize_t put = write(record->fd, source + written, nNumberOfBytesToWrite - written);
        if (put > 0) {
            written += DWORD(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            result = failFromErrno();
            break;
        }
        if (deadline != noDeadline && nowNs() >= deadline)
            break;
        int events = waitReady(record->fd, POLLOUT, deadline);
        if (events < 0) {
            result = failFromErrno();
            break;
        }
        if (events == 0)
            break;
        if ((events & (POLLHUP | POLLERR)) && !(events & POLLOUT)) {
            result = fail(ERROR_DEVICE_NOT_CONNECTED);
            break;
        }
    }
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = written;
    return result;
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD)
{
    return findRecord(hFile) != nullptr ? TRUE : FALSE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (lpCommTimeouts == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    record->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (lpDCB == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    termios settings;
    if (tcgetattr(record->fd, &settings) != 0)
        return failFromErrno();

    std::memset(lpDCB, 0, sizeof *lpDCB);
    lpDCB->DCBlength = sizeof *lpDCB;
    lpDCB->BaudRate = rateForSpeed(cfgetospeed(&settings));
    lpDCB->fBinary = 1;
    lpDCB->fParity = (settings.c_iflag & INPCK) ? 1 : 0;
    lpDCB->fOutxCtsFlow = (settings.c_cflag & CRTSCTS) ? 1 : 0;
    lpDCB->fOutX = (settings.c_iflag & IXON) ? 1 : 0;
    lpDCB->fInX = (settings.c_iflag & IXOFF) ? 1 : 0;
    lpDCB->fDtrControl = DTR_CONTROL_ENABLE;
    lpDCB->fRtsControl = RTS_CONTROL_ENABLE;
    int lines = 0;
    if (ioctl(record->fd, TIOCMGET, &lines) == 0) {
        lpDCB->fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        lpDCB->fRtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }

    switch (settings.c_cflag & CSIZE) {
    case CS5:
        lpDCB->ByteSize = 5;
        break;
    case CS6:
        lpDCB->ByteSize = 6;
        break;
    case CS7:
        lpDCB->ByteSize = 7;
        break;
    default:
        lpDCB->ByteSize = 8;
        break;
    }
    if (!(settings.c_cflag & PARENB))
        lpDCB->Parity = NOPARITY;
    else if (settings.c_cflag & CMSPAR)
        lpDCB->Parity = (settings.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        lpDCB->Parity = (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(settings.c_cflag & CSTOPB))
        lpDCB->StopBits = ONESTOPBIT;
    else
        lpDCB->StopBits = lpDCB->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    lpDCB->XonChar = char(settings.c_cc[VSTART]);
    lpDCB->XoffChar = char(settings.c_cc[VSTOP]);
    lpDCB->EofChar = char(settings.c_cc[VEOF]);
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (lpDCB == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    termios settings;
    if (tcgetattr(record->fd, &settings) != 0)
        return failFromErrno();

    speed_t speed;
    if (!speedForRate(lpDCB->BaudRate, &speed))
        return fail(ERROR_INVALID_PARAMETER);
    tcflag_t size;
    switch (lpDCB->ByteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }
    tcflag_t parity;
    switch (lpDCB->Parity) {
    case NOPARITY:
        parity = 0;
        break;
    case ODDPARITY:
        parity = PARENB | PARODD;
        break;
    case EVENPARITY:
        parity = PARENB;
        break;
    case MARKPARITY:
        parity = PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        parity = PARENB | CMSPAR;
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }
    tcflag_t stop;
    switch (lpDCB->StopBits) {
    case ONESTOPBIT:
        stop = 0;
        break;
    case ONE5STOPBITS:
        // A UART sends 1.5 stop bits when told 2 with 5 data bits.
        if (lpDCB->ByteSize != 5)
            return fail(ERROR_INVALID_PARAMETER);
        stop = CSTOPB;
        break;
    case TWOSTOPBITS:
        stop = CSTOPB;
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }

    // Raw bytes: every value 0 to 255 passes unchanged in both directions.
    settings.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                  IXANY | IMAXBEL | IUCLC | INPCK | IGNPAR);
    settings.c_oflag &= ~tcflag_t(OPOST);
    settings.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);
    settings.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings.c_cflag |= tcflag_t(CLOCAL | CREAD) | size | parity | stop;
    if (lpDCB->fParity && parity != 0)
        settings.c_iflag |= INPCK;
    if (lpDCB->fOutxCtsFlow)
        settings.c_cflag |= CRTSCTS;
    if (lpDCB->fOutX)
        settings.c_iflag |= IXON;
    if (lpDCB->fInX)
        settings.c_iflag |= IXOFF;
    if (lpDCB->fOutX || lpDCB->fInX) {
        settings.c_cc[VSTART] = cc_t(lpDCB->XonChar);
        settings.c_cc[VSTOP] = cc_t(lpDCB->XoffChar);
    }
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0)
        return fail(ERROR_INVALID_PARAMETER);
    if (tcsetattr(record->fd, TCSANOW, &settings) != 0)
        return failFromErrno();

    bool linesSet = true;
    if (lpDCB->fDtrControl == DTR_CONTROL_DISABLE || lpDCB->fDtrControl == DTR_CONTROL_ENABLE)
        linesSet = setModemLine(record->fd, TIOCM_DTR, lpDCB->fDtrControl == DTR_CONTROL_ENABLE) && linesSet;
    if (!lpDCB->fOutxCtsFlow &&
        (lpDCB->fRtsControl == RTS_CONTROL_DISABLE || lpDCB->fRtsControl == RTS_CONTROL_ENABLE))
        linesSet = setModemLine(record->fd, TIOCM_RTS, lpDCB->fRtsControl == RTS_CONTROL_ENABLE) && linesSet;
    if (!linesSet)
        return failFromErrno();
    return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    if (dwFlags & ~DWORD(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return fail(ERROR_INVALID_PARAMETER);
    // Transfers are synchronous: there is never one pending to abort.
    bool input = (dwFlags & PURGE_RXCLEAR) != 0;
    bool output = (dwFlags & PURGE_TXCLEAR) != 0;
    if (!input && !output)
        return TRUE;
    if (input)
        record->aheadCount = 0;
    int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (tcflush(record->fd, queue) != 0)
        return failFromErrno();
    return TRUE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    PortRecord *record = findRecord(hFile);
    if (record == nullptr)
        return FALSE;
    // The terminal driver reports no line errors that are left pending.
    if (lpErrors != nullptr)
        *lpErrors = 0;
    if (lpStat != nullptr) {
        int waitingIn = 0;
        int waitingOut = 0;
        if (ioctl(record->fd, FIONREAD, &waitingIn) != 0 || ioctl(record->fd, TIOCOUTQ, &waitingOut) != 0)
            return failFromErrno();
        std::memset(lpStat, 0, sizeof *lpStat);
        lpStat->cbInQue = DWORD(waitingIn) + record->aheadCount;
        lpStat->cbOutQue = DWORD(waitingOut);
    }
    return TRUE;
}

DWORD GetLastError()
{
    return lastError;
}

void Sleep(DWORD dwMilliseconds)
{
    timespec remaining;
    remaining.tv_sec = time_t(dwMilliseconds / 1000);
    remaining.tv_nsec = long(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

// A console program has no mouse cursor to change.
HCURSOR LoadCursorA(HINSTANCE, LPCSTR)
{
    return nullptr;
}

HCURSOR SetCursor(HCURSOR)
{
    return nullptr;
}
