#include <ctime>

#include "platform.h"

// The C runtime's clock() on Windows counts wall time since the process
// started, 1000 ticks a second.
unsigned long clockMs()
{
    return (unsigned long)std::clock();
}
