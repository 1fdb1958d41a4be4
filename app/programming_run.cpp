#include "app/programming_run.h"

#include <cstdio>

#include "bootloader/flash.h"
#include "bootloader/replies.h"
#include "platform.h"

int runProgramming(CommPort &port, const char *fileName)
{
    // A refused bootloader ends the run unprogrammed; the exit code says so,
    // since it is all a calling script sees.
    if (minBootloaderCheck == 1 && checkBootloaderVersion(port) != 0)
        return 1;

    std::printf("Current Version:\n");
    if (queryVersion(port) != 0) {
        std::printf("Trying Again...\n");
        std::printf("Current Version:\n");
        queryVersion(port);
    }

    std::printf("Press the 'P' key to Program the Charger with %s\n", fileName);
    std::printf("Press Any Other Key to Quit without Programming\n");
    std::printf("? > ");
    std::fflush(stdout);
    discardPendingKeys();
    int key = readKeyPress();
    bool program = key == 'p' || key == 'P';
    std::printf("\b\b\b>%s\n\n", program ? "Program" : "Cancel");
    if (!program)
        return 9;

    int exitCode = programFlash(port, fileName);

    std::printf("New Version:\n");
    if (queryVersion(port) != 0 && exitCode != 0) {
        std::printf("No Response From the Charger.\n");
        std::printf("Check the Cables, the Charger, verify the COM Port number, then Try Again.\n");
    }
    std::fflush(stdout);
    return exitCode;
}
