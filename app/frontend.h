// The entry point's run: banner, command line, port choice, one course, the
// closing wait and the exit code.
#ifndef KORVANEL_FRONTEND_H
#define KORVANEL_FRONTEND_H

#include <cstdint>

void printBanner();
void printUsage();
void waitForAnyKey();
std::int32_t choosePort();
int korvanelMain(int argc, char **argv);

#endif
