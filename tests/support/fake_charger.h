// A charger that answers as it should, for tests over the recording fake:
// both version queries, the erase handshake, "OK" to every piece and the
// final acknowledgement after the end-of-file record.
#ifndef KORVANEL_FAKE_CHARGER_H
#define KORVANEL_FAKE_CHARGER_H

#include <string>

#include "bootloader/hex_check.h"
#include "fake_winapi.h"

inline void answerLikeACharger(int port, const std::string &written)
{
    if (written == std::string("ver\r\0\0\0", 7)) {
        fakeQueueRead(port, "Charger V2.31\r\n", 20);
    } else if (written == std::string("btv\r\0\0\0", 7)) {
        fakeQueueRead(port, "Bootloader Version 1.7\r\n", 20);
    } else if (written == "erase\r") {
        fakeQueueRead(port, "Erasing...\r\n", 200);
        fakeQueueRead(port, "Begin file transfer...\r\n", 500);
    } else {
        fakeQueueRead(port, "OK\r\n", 5);
        if (isEndOfFileRecord(written.c_str()))
            fakeQueueRead(port, "System will now start new program.\r\n", 50);
    }
}

#endif
