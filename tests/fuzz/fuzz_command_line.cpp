// The command line and the console answers. The input holds up to four
// arguments separated by NUL bytes; whatever follows the fourth NUL is what
// the user types (without it, standard input is at its end). Port 3 has a
// charger that answers, port 7 stays silent, port 5 is held by another
// program. Files "a" (a good HEX file), "b" (a bad record) and "c" (no
// end-of-file record) lie in the directory the run starts in.
//
// Whatever is given, the run ends with exit code 0, 1 or 9 and leaves no
// handle open.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/frontend.h"
#include "fuzz_support.h"

namespace {

std::string workDirectory;
std::string consolePath;
int startDirectory = -1;

const char goodFile[] = ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
                        ":0400100010111213A6\r\n"
                        ":00000001FF\r\n";
const char badRecordFile[] = ":10000000000102030405060708090A0B0C0D0E0F79\r\n"
                             ":00000001FF\r\n";
const char noEndFile[] = ":0400100010111213A6\r\n";

void answerOnPortThree(int port, const std::string &written)
{
    if (port == 3)
        answerLikeACharger(port, written);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietConsole();
    workDirectory = scratchDirectory();
    writeWholeFile(workDirectory + "/a", goodFile, sizeof goodFile - 1);
    writeWholeFile(workDirectory + "/b", badRecordFile, sizeof badRecordFile - 1);
    writeWholeFile(workDirectory + "/c", noEndFile, sizeof noEndFile - 1);
    consolePath = workDirectory + "/console";
    startDirectory = open(".", O_RDONLY | O_DIRECTORY);
    if (startDirectory < 0)
        fuzzFailure("open(\".\")", __FILE__, __LINE__, "cannot keep the starting directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> arguments = {"korvanel"};
    std::string console;
    bool typed = false;
    std::size_t start = 0;
    for (std::size_t i = 0; size > 0; ++i) {
        if (i == size || data[i] == 0) {
            arguments.push_back(std::string((const char *)data + start, i - start));
            start = i + 1;
            if (i == size)
                break;
            if (arguments.size() == 5) {
                typed = true;
                console.assign((const char *)data + start, size - start);
                break;
            }
        }
    }
    // The file argument stays inside the scratch directory: no path may
    // reach a device such as /dev/zero that never ends. The option letter
    // sits in the second character and is kept.
    if (arguments.size() > 1) {
        for (char &c : arguments[1]) {
            if (c == '/')
                c = '_';
        }
    }

    if (typed) {
        writeWholeFile(consolePath, console.data(), console.size());
        FUZZ_CHECK(std::freopen(consolePath.c_str(), "r", stdin), consolePath);
    } else {
        FUZZ_CHECK(std::freopen("/dev/null", "r", stdin), "/dev/null");
    }

    fakeReset();
    fakeAddPort(3);
    fakeAddPort(5);
    fakeHoldPort(5);
    fakeAddPort(7);
    fakeSetResponder(answerOnPortThree);

    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    FUZZ_CHECK(chdir(workDirectory.c_str()) == 0, workDirectory);
    int exitCode = korvanelMain(int(arguments.size()), argv.data());
    FUZZ_CHECK(fchdir(startDirectory) == 0, "back to the starting directory");

    std::string detail = "exit code " + std::to_string(exitCode) + "\n" + fakeLogTail();
    FUZZ_CHECK(exitCode == 0 || exitCode == 1 || exitCode == 9, detail);
    FUZZ_CHECK(fakeOpenHandles() == 0, detail);
    FUZZ_CHECK(fakeMisuseCount() == 0, detail);
    fakeSetResponder(FakeResponder());
    return 0;
}
