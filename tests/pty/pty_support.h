// Pseudo-terminals for the tests: the test holds the master side and the
// code under test opens the slave side as its device.
#ifndef KORVANEL_PTY_SUPPORT_H
#define KORVANEL_PTY_SUPPORT_H

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

// Opens a new master; returns its descriptor and the slave's path, or -1.
inline int openPtyMaster(std::string *slavePath)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return -1;
    const char *name = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
        close(master);
        return -1;
    }
    *slavePath = name;
    return master;
}

inline long long monotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Reads exactly count bytes unless waitMs pass first; returns the bytes read.
inline std::size_t readWithin(int fd, void *buffer, std::size_t count, int waitMs)
{
    const long long deadline = monotonicMs() + waitMs;
    std::size_t done = 0;
    while (done < count) {
        long long remaining = deadline - monotonicMs();
        if (remaining <= 0)
            break;
        pollfd entry = {fd, POLLIN, 0};
        int ready = poll(&entry, 1, int(remaining));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        ssize_t got = read(fd, static_cast<char *>(buffer) + done, count - done);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

#endif
