// Every platform call that an operation makes is failed in turn, the 1st,
// the 2nd, ... until the operation runs through without meeting the
// failure. Each time the operation must end with the result and the message
// of that failure, give back every port it opened exactly once, touch no
// closed handle, send nothing more after a failed transfer, and leave no
// file open.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <functional>
#include <string>

#include "app/frontend.h"
#include "bootloader/flash.h"
#include "bootloader/replies.h"
#include "fake_winapi.h"
#include "test_files.h"
#include "tests/support/fake_charger.h"

namespace {

const int portNumber = 3;

int openDescriptors()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

struct Outcome {
    int result;
    std::string output;
    const FakeCall *failedCall; // the call that met the injected failure
};

// The message each failing call must lead to; empty when the operation
// ignores that call's failure and must succeed all the same.
struct FailurePath {
    const char *call;
    const char *message;
};

Outcome runWithFailure(int n, const std::function<int()> &operation)
{
    fakeReset();
    fakeAddPort(portNumber);
    fakeSetResponder(answerLikeACharger);
    if (n > 0)
        fakeFailNthCall(n);
    Outcome outcome;
    testing::internal::CaptureStdout();
    outcome.result = operation();
    std::fflush(stdout);
    outcome.output = testing::internal::GetCapturedStdout();
    // The nth call of those that can fail is the one made to fail.
    outcome.failedCall = nullptr;
    int fallible = 0;
    for (const FakeCall &call : fakeCalls()) {
        if (call.name == "Sleep" || call.name == "SetCursor" || call.name == "GetLastError")
            continue;
        if (++fallible == n) {
            outcome.failedCall = &call;
            break;
        }
    }
    return outcome;
}

// Nothing goes to or comes from the charger after a failed transfer.
void expectNothingMovesAfter(const FakeCall &failed)
{
    bool after = false;
    for (const FakeCall &call : fakeCalls()) {
        if (&call == &failed) {
            after = true;
            continue;
        }
        if (after && (call.name == "ReadFile" || call.name == "WriteFile") && call.handleId == failed.handleId) {
            EXPECT_TRUE(call.failed && call.bytes.empty()) << call.text << "\n" << fakeCallLog();
        }
    }
}

// The bytes of the reply taken in before the failed read.
std::size_t bytesReadBefore(const FakeCall &failed)
{
    std::size_t bytes = 0;
    for (const FakeCall &call : fakeCalls()) {
        if (&call == &failed)
            break;
        if (call.name == "WriteFile")
            bytes = 0;
        if (call.name == "ReadFile")
            bytes += call.bytes.size();
    }
    return bytes;
}

bool replyComplete(const FakeCall &failed)
{
    std::string reply;
    for (const FakeCall &call : fakeCalls()) {
        if (&call == &failed)
            break;
        if (call.name == "WriteFile")
            reply.clear();
        if (call.name == "ReadFile")
            reply += call.bytes;
    }
    return reply.find('\n') != std::string::npos;
}

// answerBytes: for a query, how much of a reply makes a good answer even
// when a read then fails; 0 when every failed read fails the operation.
void walk(const char *name, const std::function<int()> &operation, const FailurePath *paths, std::size_t pathCount,
          std::size_t answerBytes)
{
    SCOPED_TRACE(name);
    const int descriptors = openDescriptors();
    Outcome clean = runWithFailure(0, operation);
    ASSERT_EQ(clean.result, 0) << clean.output << fakeCallLog();

    for (int n = 1;; ++n) {
        Outcome outcome = runWithFailure(n, operation);
        SCOPED_TRACE("failing call " + std::to_string(n) + "\n" + fakeCallLog());
        EXPECT_EQ(fakeOpenHandles(), 0);
        EXPECT_EQ(fakeMisuseCount(), 0);
        EXPECT_EQ(fakePort(portNumber)->opens, fakePort(portNumber)->closes);
        EXPECT_EQ(openDescriptors(), descriptors);
        if (fakeInjectedFailures() == 0)
            break;
        ASSERT_NE(outcome.failedCall, nullptr);
        const FakeCall &failed = *outcome.failedCall;

        const char *message = nullptr;
        for (std::size_t i = 0; i < pathCount; ++i) {
            if (failed.name == paths[i].call)
                message = paths[i].message;
        }
        // The first GetCommState tests the port at opening; a later one only
        // reads settings that are replaced anyway.
        if (failed.name == "GetCommState" && fakeCallCount("SetCommState") > 0)
            message = "";
        // After a complete reply the line is only drained; a failure there
        // cuts the wait short and nothing else.
        if (failed.name == "ReadFile" && replyComplete(failed) && answerBytes > 0)
            message = "";
        ASSERT_NE(message, nullptr) << "no failure path known for " << failed.text;
        if (*message == 0) {
            EXPECT_EQ(outcome.result, 0) << outcome.output;
            continue;
        }
        EXPECT_NE(outcome.output.find(message), std::string::npos) << outcome.output;
        if (failed.name == "ReadFile" && answerBytes > 0 && bytesReadBefore(failed) >= answerBytes) {
            // A query counts the part of the reply that came before the failure.
            EXPECT_EQ(outcome.result, 0) << outcome.output;
        } else {
            EXPECT_EQ(outcome.result, 1) << outcome.output;
        }
        if (failed.name == "ReadFile" || failed.name == "WriteFile")
            expectNothingMovesAfter(failed);
    }
}

// Calls whose failure the serial layer passes over by design.
#define IGNORED_FAILURES                                                                                               \
    {"LoadCursorA", ""}, {"SetupComm", ""}, {"PurgeComm", ""}, {"ClearCommError", ""},                             \
        {"CloseHandle", ""}, {"GetLastError", ""}

TEST(FaultWalk, VersionQuery)
{
    const FailurePath paths[] = {
        IGNORED_FAILURES,
        {"CreateFileA", "\nError: Comm Port 3 Open Failed\n"},
        {"GetCommState", "\nError: Comm Port 3 Open Failed\n"},
        {"SetCommTimeouts", "\nError: Comm Port 3 Open Failed\n"},
        {"SetCommState", "\nError: Comm Port 3 Setup Failed\n"},
        {"WriteFile", "\nError: Sending Get Version To Comm Port Failed\n"},
        {"ReadFile", "Error: Reading Comport\n"},
    };
    CommPort port = makeCommPort();
    port.portNumber = portNumber;
    walk("queryVersion", [&] { return queryVersion(port); }, paths, sizeof paths / sizeof paths[0], 2);
}

TEST(FaultWalk, BootloaderVersion)
{
    const FailurePath paths[] = {
        IGNORED_FAILURES,
        {"CreateFileA", "\nError: Comm Port 3 Open Failed\nThe program requires bootloader  1.2 or greater.\n"},
        {"GetCommState", "\nError: Comm Port 3 Open Failed\nThe program requires bootloader  1.2 or greater.\n"},
        {"SetCommTimeouts", "\nError: Comm Port 3 Open Failed\nThe program requires bootloader  1.2 or greater.\n"},
        {"SetCommState", "\nError: Comm Port 3 Setup Failed\nThe program requires bootloader  1.2 or greater.\n"},
        {"WriteFile", "\nError: Sending Get Bootloader Version To Comm Port Failed\nThe program requires"},
        {"ReadFile", "Error: Reading Comport\n"},
    };
    CommPort port = makeCommPort();
    port.portNumber = portNumber;
    minBootloaderCheck = 1;
    minBootloaderMajor = 1;
    minBootloaderMinor = 2;
    walk("checkBootloaderVersion", [&] { return checkBootloaderVersion(port); }, paths,
         sizeof paths / sizeof paths[0], 22);
}

TEST(FaultWalk, Programming)
{
    TempDir dir;
    std::string file = writeFile(dir, "fw.hex",
                                 hexRecord(0, 0, {1, 2, 3, 4}) + "\r\n" + hexRecord(4, 0, {5, 6}) + "\r\n:00000001FF\r\n");
    const FailurePath paths[] = {
        IGNORED_FAILURES,
        {"CreateFileA", "Error: Comm Port 3 Open Failed\nTotal Elapsed Time 00:00:00\n"},
        {"GetCommState", "Error: Comm Port 3 Open Failed\nTotal Elapsed Time 00:00:00\n"},
        {"SetCommTimeouts", "Error: Comm Port 3 Open Failed\nTotal Elapsed Time 00:00:00\n"},
        {"SetCommState", "Error: Comm Port 3 Setup Failed\nTotal Elapsed Time 00:00:00\n"},
        {"WriteFile", "\nError: "},
        {"ReadFile", "Error: Reading Comport\n"},
    };
    CommPort port = makeCommPort();
    port.portNumber = portNumber;
    walk("programFlash", [&] { return programFlash(port, file.c_str()); }, paths, sizeof paths / sizeof paths[0],
         0);
}

TEST(FaultWalk, PortSearchLeavesOutAPortThatFailsToOpen)
{
    std::FILE *input = std::freopen("/dev/null", "r", stdin);
    ASSERT_NE(input, nullptr);
    for (int n = 1;; ++n) {
        Outcome outcome = runWithFailure(n, [] { return choosePort(); });
        SCOPED_TRACE("failing call " + std::to_string(n));
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(fakeOpenHandles(), 0);
        EXPECT_EQ(fakeMisuseCount(), 0);
        if (fakeInjectedFailures() == 0) {
            EXPECT_EQ(outcome.output, "Free COM port(s) detected: 3\n\nEnter COM Port number, follow by ENTER > ");
            break;
        }
        ASSERT_NE(outcome.failedCall, nullptr);
        const FakeCall &failed = *outcome.failedCall;
        // Port 3 drops out of the list when its open or its settings test failed.
        bool lost = (failed.name == "CreateFileA" && failed.text.find("Com3 ") != std::string::npos) ||
                    failed.name == "SetCommTimeouts" || failed.name == "GetCommState";
        EXPECT_EQ(outcome.output.find("detected: 3\n") == std::string::npos, lost) << outcome.output;
    }
}

} // namespace
