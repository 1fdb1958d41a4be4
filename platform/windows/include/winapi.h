// On Windows the serial code talks to the real system.
#ifndef KORVANEL_WINAPI_H
#define KORVANEL_WINAPI_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#endif
