#include "platform.h"

#include <ctime>

// The monotonic clock keeps counting while the process waits; clock() would
// count only the processor time that the process uses.
unsigned long clockMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long)now.tv_sec * 1000UL + (unsigned long)(now.tv_nsec / 1000000L);
}
