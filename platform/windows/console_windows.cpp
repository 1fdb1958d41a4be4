#include <conio.h>
#include <cstdio>

#include "platform.h"
#include "winapi.h"

namespace {

bool consolePrimed = false;

bool stdinIsConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Under some console hosts _kbhit reports nothing until the console input
// has been looked at once, so a key typed ahead would be taken as the answer.
void primeConsole()
{
    if (consolePrimed)
        return;
    consolePrimed = true;
    INPUT_RECORD record;
    DWORD count = 0;
    PeekConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &count);
}

// A function or arrow key arrives as a lead byte and a code: one press.
int readOneKey()
{
    int key = _getch();
    if (key == 0 || key == 0xE0)
        _getch();
    return key;
}

} // namespace

void discardPendingKeys()
{
    if (!stdinIsConsole())
        return;
    primeConsole();
    while (_kbhit())
        readOneKey();
}

int readKeyPress()
{
    std::fflush(stdout);
    if (!stdinIsConsole()) {
        int byte = std::getchar();
        return byte == EOF ? -1 : byte;
    }
    primeConsole();
    return readOneKey();
}
