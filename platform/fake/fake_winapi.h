// A recording stand-in for the Windows calls of winapi.h and for clockMs(),
// for unit tests. It keeps a log of every call, simulates COM ports whose
// incoming bytes arrive at scripted moments of a virtual clock, records what
// was written to them, and can make chosen calls fail.
//
// Time: the virtual clock starts at fakeStartMs at each fakeReset(). Sleep
// advances it; a read that has to wait advances it to the moment the wait
// ends; everything else takes no time.
//
// Reads follow the port's applied COMMTIMEOUTS. With ReadIntervalTimeout
// MAXDWORD and a nonzero total time-out (the serial code's setting), a read
// returns at once with what has arrived (up to the count asked for); with
// nothing there it waits for the first arrival, at most the total time-out
// (multiplier x count + constant), and returns with no byte and TRUE when
// nothing comes.
//
// The port's input queue follows the driver: PurgeComm with PURGE_RXCLEAR
// drops the bytes that have arrived by then, while bytes scheduled for later
// still come. A test that scripts replies therefore queues them in answer to
// what is written (fakeOnWrite, fakeSetResponder), or with a delay that
// lands after the port was configured.
#ifndef KORVANEL_FAKE_WINAPI_H
#define KORVANEL_FAKE_WINAPI_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "winapi.h"

const unsigned long fakeStartMs = 100000;

struct FakeCall {
    std::string name;   // "CreateFileA", "ReadFile", ...
    std::string text;   // name and arguments, e.g. "CreateFileA \\.\Com7 c0000000 0 3 0"
    int handleId;       // 1, 2, ... in order of opening; 0 when no handle is involved or it is unknown
    unsigned long atMs; // virtual time when the call began
    bool failed;        // the call reported failure
    std::string bytes;  // WriteFile: the bytes that went out; ReadFile: the bytes delivered
    DCB dcb;            // SetCommState: the DCB given; GetCommState: the DCB returned
    COMMTIMEOUTS timeouts; // SetCommTimeouts: the values given
};

struct FakeByte {
    unsigned long atMs;
    unsigned char value;
};

struct FakePort {
    int number;
    bool held;                    // open in another program: CreateFileA is refused
    bool hungUp;                  // fakeHangUp was called for it
    bool lineError;               // a transfer failed with abort-on-error set; cleared by ClearCommError or a new open
    unsigned long hangUpAtMs;
    std::vector<FakeByte> input;  // bytes still to be read, in order of arrival
    std::string written;          // every byte written to it since the reset
    DCB dcb;                      // the settings that GetCommState returns and SetCommState replaces
    int dcbApplied;               // successful SetCommState calls
    COMMTIMEOUTS timeouts;        // the time-outs in force
    DWORD inQueue;                // sizes given to SetupComm (0 before)
    DWORD outQueue;
    int opens;                    // successful CreateFileA calls
    int closes;                   // successful CloseHandle calls
};

typedef std::function<void(int port, const std::string &written)> FakeResponder;

// Clears every port, log, script and injected failure; the clock goes back
// to fakeStartMs and the current cursor to fakeArrowCursor().
void fakeReset();

// Ports
void fakeAddPort(int number);
void fakeHoldPort(int number);  // CreateFileA fails with ERROR_ACCESS_DENIED
// From atMs on, reads, writes and the line calls on the port fail with
// ERROR_DEVICE_NOT_CONNECTED and it can no longer be opened; a read that is
// waiting at that moment fails then.
void fakeHangUp(int number, unsigned long atMs);
FakePort *fakePort(int number); // nullptr for a port never added
const std::string &fakeWritten(int number);

// Incoming bytes: the first arrives delayMs after now, each next one gapMs
// after the one before.
void fakeQueueRead(int number, const std::string &bytes, unsigned long delayMs = 0, unsigned long gapMs = 0);
// After a write to the port, when all bytes written to it so far end with
// `endsWith`, queue `reply` to arrive delayMs later. The first matching rule
// fires, on every such write.
void fakeOnWrite(int number, const std::string &endsWith, const std::string &reply, unsigned long delayMs = 0);
// Called after every write that sent at least one byte, with those bytes,
// after the fakeOnWrite rules; it may call fakeQueueRead. An empty one clears it.
void fakeSetResponder(FakeResponder responder);

// Clock
unsigned long fakeNow();
void fakeAdvance(unsigned long ms);

// The log
const std::vector<FakeCall> &fakeCalls();
std::vector<std::string> fakeCallNames();
int fakeCallCount(const std::string &name);
std::string fakeCallLog(); // one call per line, for failure messages

// Handles and misuse. A call on a handle that is closed or was never given
// out fails with ERROR_INVALID_HANDLE and counts as a misuse, as do a read
// or write with an OVERLAPPED and a read that could only wait for ever.
int fakeOpenHandles();
int fakeMisuseCount();
const std::vector<std::string> &fakeMisuses();

// Cursors
HCURSOR fakeArrowCursor(); // current at the reset
HCURSOR fakeWaitCursor();  // what LoadCursorA gives for IDC_WAIT
HCURSOR fakeCurrentCursor();

// Injected failures. A failing call returns FALSE (CreateFileA
// INVALID_HANDLE_VALUE, LoadCursorA nullptr) with `error` as the last error.
// Call numbers are 1-based and count from the reset.
void fakeFailCall(const std::string &name, int n, DWORD error = ERROR_GEN_FAILURE);
// Fails the nth call of any kind that can fail: every function of winapi.h
// except Sleep, SetCursor and GetLastError.
void fakeFailNthCall(int n, DWORD error = ERROR_GEN_FAILURE);
// The nth WriteFile sends only `count` bytes and returns TRUE.
void fakeShortWrite(int n, DWORD count);
int fakeInjectedFailures(); // how many injected failures were met

#endif
