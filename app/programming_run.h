#ifndef KORVANEL_PROGRAMMING_RUN_H
#define KORVANEL_PROGRAMMING_RUN_H

#include "serial/comm_port.h"

// Guards, confirms and frames one reprogramming; gives the exit code.
int runProgramming(CommPort &port, const char *fileName);

#endif
