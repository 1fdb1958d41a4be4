#include "fake_winapi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform.h"

namespace {

struct FakeHandle {
    int port;
    bool open;
};

struct NamedFailure {
    std::string name;
    int n;
    DWORD error;
};

struct NthFailure {
    int n;
    DWORD error;
};

struct ShortWrite {
    int n;
    DWORD count;
};

struct WriteRule {
    int port;
    std::string endsWith;
    std::string reply;
    unsigned long delayMs;
};

struct FakeState {
    unsigned long nowMs = fakeStartMs;
    DWORD lastError = 0;
    std::map<int, FakePort> ports;
    std::vector<FakeHandle> handles; // handle id n is handles[n - 1]
    std::vector<FakeCall> calls;
    std::map<std::string, int> callCounts;
    int fallibleCalls = 0;
    std::vector<std::string> misuses;
    std::vector<NamedFailure> namedFailures;
    std::vector<NthFailure> nthFailures;
    std::vector<ShortWrite> shortWrites;
    int injectedMet = 0;
    std::vector<WriteRule> rules;
    FakeResponder responder;
    HCURSOR currentCursor = nullptr;
};

FakeState state;

const WORD arrowCursorId = 32512;
const std::uintptr_t handleBase = 0x4000;
const std::uintptr_t handleStep = 4;

HCURSOR cursorFor(std::uintptr_t resourceId)
{
    return (HCURSOR)(0x70000 + resourceId);
}

std::string hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", unsigned(value));
    return text;
}

DWORD flagWord(const DCB &dcb)
{
    DWORD word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char *>(&dcb) + 8, sizeof word);
    return word;
}

DCB driverDefaultDcb()
{
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

int handleIdOf(HANDLE handle)
{
    std::uintptr_t value = (std::uintptr_t)handle;
    if (value <= handleBase || (value - handleBase) % handleStep != 0)
        return 0;
    std::uintptr_t id = (value - handleBase) / handleStep;
    return id <= state.handles.size() ? int(id) : 0;
}

HANDLE handleWithId(int id)
{
    return (HANDLE)(handleBase + handleStep * std::uintptr_t(id));
}

std::string handleText(HANDLE handle)
{
    int id = handleIdOf(handle);
    if (id != 0)
        return "#" + std::to_string(id);
    return "?" + hex(DWORD((std::uintptr_t)handle));
}

// Logs the start of a call and returns its place in the log.
std::size_t beginCall(const std::string &name, const std::string &arguments, HANDLE handle, bool fallible)
{
    FakeCall call;
    call.name = name;
    call.text = arguments.empty() ? name : name + " " + arguments;
    call.handleId = handle ? handleIdOf(handle) : 0;
    call.atMs = state.nowMs;
    call.failed = false;
    std::memset(&call.dcb, 0, sizeof call.dcb);
    std::memset(&call.timeouts, 0, sizeof call.timeouts);
    state.calls.push_back(call);
    ++state.callCounts[name];
    if (fallible)
        ++state.fallibleCalls;
    return state.calls.size() - 1;
}

BOOL failCall(std::size_t call, DWORD error)
{
    state.calls[call].failed = true;
    state.lastError = error;
    return FALSE;
}

bool injectedFailure(std::size_t call, DWORD &error)
{
    const std::string &name = state.calls[call].name;
    int nameCount = state.callCounts[name];
    for (const NamedFailure &failure : state.namedFailures) {
        if (failure.name == name && failure.n == nameCount) {
            error = failure.error;
            ++state.injectedMet;
            return true;
        }
    }
    for (const NthFailure &failure : state.nthFailures) {
        if (failure.n == state.fallibleCalls) {
            error = failure.error;
            ++state.injectedMet;
            return true;
        }
    }
    return false;
}

void noteMisuse(std::size_t call, const std::string &what)
{
    state.misuses.push_back(state.calls[call].text + ": " + what);
}

// The open handle's port, or nullptr (a misuse) for a handle that is closed
// or was never given out.
FakePort *portOfHandle(std::size_t call, HANDLE handle)
{
    int id = handleIdOf(handle);
    if (id == 0) {
        noteMisuse(call, "unknown handle");
        return nullptr;
    }
    const FakeHandle &entry = state.handles[id - 1];
    if (!entry.open) {
        noteMisuse(call, "handle already closed");
        return nullptr;
    }
    return &state.ports.at(entry.port);
}

bool hungUpBy(const FakePort &port, unsigned long atMs)
{
    return port.hungUp && port.hangUpAtMs <= atMs;
}

// The usual checks of a call on an open port: a valid handle, no injected
// failure, the device still there. Returns nullptr after failing the call.
FakePort *checkedPort(std::size_t call, HANDLE handle)
{
    FakePort *port = portOfHandle(call, handle);
    if (!port) {
        failCall(call, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::string &name = state.calls[call].name;
    bool transfer = name == "ReadFile" || name == "WriteFile";
    DWORD error = 0;
    if (injectedFailure(call, error)) {
        // As the driver does with abort-on-error set: after a failed
        // transfer every read and write fails until ClearCommError.
        if (transfer && port->dcb.fAbortOnError)
            port->lineError = true;
        failCall(call, error);
        return nullptr;
    }
    if (transfer && port->lineError) {
        failCall(call, ERROR_OPERATION_ABORTED);
        return nullptr;
    }
    if (hungUpBy(*port, state.nowMs)) {
        failCall(call, ERROR_DEVICE_NOT_CONNECTED);
        return nullptr;
    }
    return port;
}

std::size_t arrivedCount(const FakePort &port, unsigned long atMs)
{
    std::size_t count = 0;
    while (count < port.input.size() && port.input[count].atMs <= atMs)
        ++count;
    return count;
}

bool parsePortName(const char *name, int &number)
{
    if (!name)
        return false;
    if (std::strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm'))
        return false;
    name += 3;
    if (name[0] < '1' || name[0] > '9')
        return false;
    long value = 0;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9' || value > 100000)
            return false;
        value = value * 10 + (*name - '0');
    }
    number = int(value);
    return true;
}

void queueBytes(FakePort &port, const std::string &bytes, unsigned long firstAtMs, unsigned long gapMs)
{
    unsigned long atMs = firstAtMs;
    for (unsigned char value : bytes) {
        auto place = std::upper_bound(port.input.begin(), port.input.end(), atMs,
                                      [](unsigned long at, const FakeByte &b) { return at < b.atMs; });
        port.input.insert(place, FakeByte{atMs, value});
        atMs += gapMs;
    }
}

} // namespace

void fakeReset()
{
    state = FakeState();
    state.currentCursor = cursorFor(arrowCursorId);
}

void fakeAddPort(int number)
{
    FakePort port;
    port.number = number;
    port.held = false;
    port.hungUp = false;
    port.lineError = false;
    port.hangUpAtMs = 0;
    port.dcb = driverDefaultDcb();
    port.dcbApplied = 0;
    std::memset(&port.timeouts, 0, sizeof port.timeouts);
    port.inQueue = 0;
    port.outQueue = 0;
    port.opens = 0;
    port.closes = 0;
    state.ports[number] = port;
}

void fakeHoldPort(int number)
{
    if (FakePort *port = fakePort(number))
        port->held = true;
}

void fakeHangUp(int number, unsigned long atMs)
{
    if (FakePort *port = fakePort(number)) {
        port->hungUp = true;
        port->hangUpAtMs = atMs;
    }
}

FakePort *fakePort(int number)
{
    auto found = state.ports.find(number);
    return found == state.ports.end() ? nullptr : &found->second;
}

const std::string &fakeWritten(int number)
{
    static const std::string none;
    FakePort *port = fakePort(number);
    return port ? port->written : none;
}

void fakeQueueRead(int number, const std::string &bytes, unsigned long delayMs, unsigned long gapMs)
{
    if (FakePort *port = fakePort(number))
        queueBytes(*port, bytes, state.nowMs + delayMs, gapMs);
}

void fakeOnWrite(int number, const std::string &endsWith, const std::string &reply, unsigned long delayMs)
{
    state.rules.push_back(WriteRule{number, endsWith, reply, delayMs});
}

void fakeSetResponder(FakeResponder responder)
{
    state.responder = responder;
}

unsigned long fakeNow()
{
    return state.nowMs;
}

void fakeAdvance(unsigned long ms)
{
    state.nowMs += ms;
}

const std::vector<FakeCall> &fakeCalls()
{
    return state.calls;
}

std::vector<std::string> fakeCallNames()
{
    std::vector<std::string> names;
    for (const FakeCall &call : state.calls)
        names.push_back(call.name);
    return names;
}

int fakeCallCount(const std::string &name)
{
    auto found = state.callCounts.find(name);
    return found == state.callCounts.end() ? 0 : found->second;
}

std::string fakeCallLog()
{
    std::string log;
    for (const FakeCall &call : state.calls) {
        log += std::to_string(call.atMs) + " " + call.text;
        if (call.failed)
            log += " -> failed";
        log += "\n";
    }
    return log;
}

int fakeOpenHandles()
{
    return int(std::count_if(state.handles.begin(), state.handles.end(),
                             [](const FakeHandle &handle) { return handle.open; }));
}

int fakeMisuseCount()
{
    return int(state.misuses.size());
}

const std::vector<std::string> &fakeMisuses()
{
    return state.misuses;
}

HCURSOR fakeArrowCursor()
{
    return cursorFor(arrowCursorId);
}

HCURSOR fakeWaitCursor()
{
    return cursorFor((std::uintptr_t)IDC_WAIT);
}

HCURSOR fakeCurrentCursor()
{
    return state.currentCursor;
}

void fakeFailCall(const std::string &name, int n, DWORD error)
{
    state.namedFailures.push_back(NamedFailure{name, n, error});
}

void fakeFailNthCall(int n, DWORD error)
{
    state.nthFailures.push_back(NthFailure{n, error});
}

void fakeShortWrite(int n, DWORD count)
{
    state.shortWrites.push_back(ShortWrite{n, count});
}

int fakeInjectedFailures()
{
    return state.injectedMet;
}

unsigned long clockMs()
{
    return state.nowMs;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    std::size_t call = beginCall("CreateFileA",
                                 std::string(lpFileName ? lpFileName : "(null)") + " " + hex(dwDesiredAccess) + " " +
                                     hex(dwShareMode) + " " + hex(dwCreationDisposition) + " " +
                                     hex(dwFlagsAndAttributes),
                                 nullptr, true);
    DWORD error = 0;
    if (injectedFailure(call, error)) {
        failCall(call, error);
        return INVALID_HANDLE_VALUE;
    }
    int number = 0;
    FakePort *port = parsePortName(lpFileName, number) ? fakePort(number) : nullptr;
    if (!port || hungUpBy(*port, state.nowMs)) {
        failCall(call, ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Ports are opened without sharing, so one that is open already,
    // here or elsewhere, is refused.
    bool openHere = std::any_of(state.handles.begin(), state.handles.end(),
                                [number](const FakeHandle &handle) { return handle.open && handle.port == number; });
    if (port->held || openHere) {
        failCall(call, ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    state.handles.push_back(FakeHandle{number, true});
    ++port->opens;
    port->lineError = false;
    int id = int(state.handles.size());
    state.calls[call].handleId = id;
    return handleWithId(id);
}

BOOL CloseHandle(HANDLE hObject)
{
    std::size_t call = beginCall("CloseHandle", handleText(hObject), hObject, true);
    FakePort *port = portOfHandle(call, hObject);
    if (!port)
        return failCall(call, ERROR_INVALID_HANDLE);
    // Even a close that reports failure gives the handle up: the caller
    // could do nothing else with it.
    state.handles[handleIdOf(hObject) - 1].open = false;
    ++port->closes;
    DWORD error = 0;
    if (injectedFailure(call, error))
        return failCall(call, error);
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    std::size_t call = beginCall("ReadFile", handleText(hFile) + " " + std::to_string(nNumberOfBytesToRead), hFile, true);
    if (lpOverlapped || !lpNumberOfBytesRead) {
        noteMisuse(call, "overlapped read or no count");
        return failCall(call, ERROR_INVALID_PARAMETER);
    }
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;

    const COMMTIMEOUTS &t = port->timeouts;
    const unsigned long startMs = state.nowMs;
    const DWORD wanted = nNumberOfBytesToRead;
    bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    bool untilFirst = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                      t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    unsigned long long total = untilFirst ? t.ReadTotalTimeoutConstant
                                          : (unsigned long long)t.ReadTotalTimeoutMultiplier * wanted +
                                                t.ReadTotalTimeoutConstant;
    bool hasTotal = !immediate && total > 0;
    bool hasInterval = !immediate && !untilFirst && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;

    DWORD received = 0;
    bool failed = false;
    unsigned long endMs = startMs;
    bool waitsForever = false;
    if (wanted > 0) {
        std::size_t available = arrivedCount(*port, startMs);
        if (immediate || (untilFirst && available > 0)) {
            received = DWORD(std::min<std::size_t>(available, wanted));
        } else {
            // Take bytes in order of arrival until enough have come or a
            // time-out ends the wait.
            unsigned long deadline = hasTotal ? (unsigned long)(startMs + total) : 0;
            unsigned long lastMs = startMs;
            for (;;) {
                unsigned long waitEnd = 0;
                bool bounded = false;
                if (hasTotal) {
                    waitEnd = deadline;
                    bounded = true;
                }
                if (hasInterval && received > 0) {
                    unsigned long intervalEnd = lastMs + t.ReadIntervalTimeout;
                    waitEnd = bounded ? std::min(waitEnd, intervalEnd) : intervalEnd;
                    bounded = true;
                }
                if (received < port->input.size()) {
                    unsigned long arrival = std::max(port->input[received].atMs, startMs);
                    if (!bounded || arrival <= waitEnd) {
                        if (hungUpBy(*port, arrival)) {
                            endMs = std::max(port->hangUpAtMs, startMs);
                            failed = true;
                            break;
                        }
                        ++received;
                        lastMs = endMs = arrival;
                        if (received == wanted || untilFirst)
                            break;
                        continue;
                    }
                }
                if (!bounded) {
                    waitsForever = true;
                    break;
                }
                if (hungUpBy(*port, waitEnd)) {
                    endMs = std::max(port->hangUpAtMs, startMs);
                    failed = true;
                } else {
                    endMs = waitEnd;
                }
                break;
            }
            if (untilFirst && !failed && received > 0)
                received = DWORD(std::min<std::size_t>(arrivedCount(*port, endMs), wanted));
        }
    }
    if (waitsForever)
        noteMisuse(call, "read would wait for ever");

    state.nowMs = std::max(state.nowMs, endMs);
    std::string delivered;
    for (DWORD i = 0; i < received; ++i)
        delivered += char(port->input[i].value);
    port->input.erase(port->input.begin(), port->input.begin() + received);
    if (received > 0)
        std::memcpy(lpBuffer, delivered.data(), received);
    *lpNumberOfBytesRead = received;
    state.calls[call].bytes = delivered;
    if (failed)
        return failCall(call, ERROR_DEVICE_NOT_CONNECTED);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    std::size_t call =
        beginCall("WriteFile", handleText(hFile) + " " + std::to_string(nNumberOfBytesToWrite), hFile, true);
    if (lpOverlapped || !lpNumberOfBytesWritten) {
        noteMisuse(call, "overlapped write or no count");
        return failCall(call, ERROR_INVALID_PARAMETER);
    }
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;

    DWORD sent = nNumberOfBytesToWrite;
    int writeNumber = state.callCounts["WriteFile"];
    for (const ShortWrite &shortWrite : state.shortWrites) {
        if (shortWrite.n == writeNumber)
            sent = std::min(sent, shortWrite.count);
    }
    std::string bytes(static_cast<const char *>(lpBuffer), sent);
    port->written += bytes;
    state.calls[call].bytes = bytes;
    *lpNumberOfBytesWritten = sent;

    if (sent > 0) {
        int number = port->number;
        for (const WriteRule &rule : state.rules) {
            const std::string &all = port->written;
            if (rule.port == number && all.size() >= rule.endsWith.size() &&
                all.compare(all.size() - rule.endsWith.size(), rule.endsWith.size(), rule.endsWith) == 0) {
                queueBytes(*port, rule.reply, state.nowMs + rule.delayMs, 0);
                break;
            }
        }
        if (state.responder)
            state.responder(number, bytes);
    }
    return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue)
{
    std::size_t call = beginCall("SetupComm",
                                 handleText(hFile) + " " + std::to_string(dwInQueue) + " " + std::to_string(dwOutQueue),
                                 hFile, true);
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    port->inQueue = dwInQueue;
    port->outQueue = dwOutQueue;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    std::string arguments = handleText(hFile);
    if (lpCommTimeouts) {
        arguments += " " + hex(lpCommTimeouts->ReadIntervalTimeout) + " " +
                     std::to_string(lpCommTimeouts->ReadTotalTimeoutMultiplier) + " " +
                     std::to_string(lpCommTimeouts->ReadTotalTimeoutConstant) + " " +
                     std::to_string(lpCommTimeouts->WriteTotalTimeoutMultiplier) + " " +
                     std::to_string(lpCommTimeouts->WriteTotalTimeoutConstant);
    }
    std::size_t call = beginCall("SetCommTimeouts", arguments, hFile, true);
    if (!lpCommTimeouts) {
        noteMisuse(call, "no time-outs given");
        return failCall(call, ERROR_INVALID_PARAMETER);
    }
    state.calls[call].timeouts = *lpCommTimeouts;
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    port->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    std::size_t call = beginCall("GetCommState", handleText(hFile), hFile, true);
    if (!lpDCB) {
        noteMisuse(call, "no DCB given");
        return failCall(call, ERROR_INVALID_PARAMETER);
    }
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    *lpDCB = port->dcb;
    state.calls[call].dcb = port->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    std::string arguments = handleText(hFile);
    if (lpDCB) {
        arguments += " " + std::to_string(lpDCB->BaudRate) + " " + std::to_string(lpDCB->ByteSize) + " " +
                     std::to_string(lpDCB->Parity) + " " + std::to_string(lpDCB->StopBits) + " " +
                     hex(flagWord(*lpDCB));
    }
    std::size_t call = beginCall("SetCommState", arguments, hFile, true);
    if (!lpDCB) {
        noteMisuse(call, "no DCB given");
        return failCall(call, ERROR_INVALID_PARAMETER);
    }
    state.calls[call].dcb = *lpDCB;
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    // The driver refuses settings that no line can have.
    if (lpDCB->BaudRate == 0 || lpDCB->ByteSize < 5 || lpDCB->ByteSize > 8 || lpDCB->Parity > SPACEPARITY ||
        lpDCB->StopBits > TWOSTOPBITS)
        return failCall(call, ERROR_INVALID_PARAMETER);
    port->dcb = *lpDCB;
    ++port->dcbApplied;
    return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    std::size_t call = beginCall("PurgeComm", handleText(hFile) + " " + std::to_string(dwFlags), hFile, true);
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    if (dwFlags & PURGE_RXCLEAR)
        port->input.erase(port->input.begin(), port->input.begin() + arrivedCount(*port, state.nowMs));
    return TRUE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    std::size_t call = beginCall("ClearCommError", handleText(hFile), hFile, true);
    if (lpErrors)
        *lpErrors = 0;
    FakePort *port = checkedPort(call, hFile);
    if (!port)
        return FALSE;
    port->lineError = false;
    if (lpStat) {
        std::memset(lpStat, 0, sizeof *lpStat);
        lpStat->cbInQue = DWORD(arrivedCount(*port, state.nowMs));
    }
    return TRUE;
}

DWORD GetLastError()
{
    beginCall("GetLastError", "", nullptr, false);
    return state.lastError;
}

void Sleep(DWORD dwMilliseconds)
{
    beginCall("Sleep", std::to_string(dwMilliseconds), nullptr, false);
    state.nowMs += dwMilliseconds;
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    std::uintptr_t resource = (std::uintptr_t)lpCursorName;
    std::size_t call = beginCall("LoadCursorA", hex(DWORD((std::uintptr_t)hInstance)) + " " + std::to_string(resource),
                                 nullptr, true);
    DWORD error = 0;
    if (injectedFailure(call, error)) {
        failCall(call, error);
        return nullptr;
    }
    // Only the system's own cursors, named by number, are known here.
    if (hInstance || resource > 0xFFFF) {
        failCall(call, ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return cursorFor(resource);
}

HCURSOR SetCursor(HCURSOR hCursor)
{
    std::uintptr_t value = (std::uintptr_t)hCursor;
    beginCall("SetCursor", value ? std::to_string(value - 0x70000) : "0", nullptr, false);
    HCURSOR previous = state.currentCursor;
    state.currentCursor = hCursor;
    return previous;
}
