// Key presses read from a terminal: a child process takes a pseudo-terminal
// as its standard input, the test types into the master side.
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform.h"
#include "pty_support.h"

namespace {

struct KeyReport {
    int keys[4];
    int settingsRestored;
};

bool sameSettings(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME];
}

TEST(ConsoleKeys, EscapeSequencesCountAsOnePressAndTheTerminalComesBack)
{
    std::string slavePath;
    int master = openPtyMaster(&slavePath);
    ASSERT_GE(master, 0);
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);

    // Settings of the terminal's own that differ from the key-reading mode,
    // so that a missed restore shows; without ICANON the typed bytes wait
    // for the reader at once.
    termios settings;
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    settings.c_lflag &= ~tcflag_t(ICANON);
    settings.c_lflag |= ECHO;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 5;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);

    // Up arrow, p, F1 as xterm sends it, q.
    const char typed[] = "\x1b[Ap\x1bOPq";
    ASSERT_EQ(write(master, typed, sizeof typed - 1), ssize_t(sizeof typed - 1));

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        close(master);
        dup2(slave, STDIN_FILENO);
        close(slave);
        termios before;
        termios after;
        tcgetattr(STDIN_FILENO, &before);
        KeyReport keys;
        for (int &key : keys.keys)
            key = readKeyPress();
        tcgetattr(STDIN_FILENO, &after);
        keys.settingsRestored = sameSettings(before, after) ? 1 : 0;
        bool reported = write(report[1], &keys, sizeof keys) == ssize_t(sizeof keys);
        int last = readKeyPress();
        reported = write(report[1], &last, sizeof last) == ssize_t(sizeof last) && reported;
        _exit(reported ? 0 : 1);
    }
    close(report[1]);
    close(slave);

    KeyReport keys;
    std::memset(&keys, 0, sizeof keys);
    bool gotKeys = readWithin(report[0], &keys, sizeof keys, 5000) == sizeof keys;
    // Closing the master hangs the terminal up: the end of input.
    close(master);
    int last = 0;
    bool gotLast = gotKeys && readWithin(report[0], &last, sizeof last, 5000) == sizeof last;
    if (!gotLast)
        kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(report[0]);

    ASSERT_TRUE(gotKeys) << "the key presses were not all read";
    EXPECT_EQ(keys.keys[0], 0x1B);
    EXPECT_EQ(keys.keys[1], 'p');
    EXPECT_EQ(keys.keys[2], 0x1B);
    EXPECT_EQ(keys.keys[3], 'q');
    EXPECT_EQ(keys.settingsRestored, 1);
    ASSERT_TRUE(gotLast) << "no end of input after the hang-up";
    EXPECT_EQ(last, -1);
}

} // namespace
