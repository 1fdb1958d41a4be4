// One complete reprogramming of the charger: erase handshake, line-by-line
// stop-and-wait transfer and the final acknowledgement.
#ifndef KORVANEL_FLASH_H
#define KORVANEL_FLASH_H

#include "serial/comm_port.h"

// 0 when the bootloader gave its final acknowledgement, 1 on any failure.
// Opens and closes the port and the file on every path.
int programFlash(CommPort &port, const char *fileName);

#endif
