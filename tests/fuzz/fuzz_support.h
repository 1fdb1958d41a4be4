// What the fuzz targets share: a quiet console, invariants that stop the
// run with a message libFuzzer reports as a finding, scratch files, and a
// scripted charger on the recording fake.
#ifndef KORVANEL_FUZZ_SUPPORT_H
#define KORVANEL_FUZZ_SUPPORT_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "fake_winapi.h"
#include "tests/support/fake_charger.h"

// The program prints a great deal; only libFuzzer's own report on stderr
// is of interest. Standard input at its end answers every prompt.
inline void quietConsole()
{
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "r", stdin)) {
        std::perror("fuzz: /dev/null");
        std::abort();
    }
}

[[noreturn]] inline void fuzzFailure(const char *condition, const char *file, int line, const std::string &detail)
{
    std::fprintf(stderr, "\n%s:%d: invariant failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzzFailure(#condition, __FILE__, __LINE__, (detail));                                                     \
    } while (0)

// The end of the fake's call log, enough to see what led to a failure.
inline std::string fakeLogTail()
{
    const std::size_t shown = 4000;
    std::string log = fakeCallLog();
    return log.size() > shown ? "...\n" + log.substr(log.size() - shown) : log;
}

// Bytes shown with C escapes, for messages.
inline std::string escaped(const std::string &bytes)
{
    std::string text;
    char code[8];
    for (unsigned char c : bytes) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text += char(c);
        } else {
            std::snprintf(code, sizeof code, "\\x%02x", c);
            text += code;
        }
    }
    return text;
}

// A directory of our own under TMPDIR (or /tmp) for the files a target
// needs, made once per process and removed with its files when the fuzzer
// exits normally.
inline std::vector<std::string> &scratchPaths()
{
    static std::vector<std::string> paths;
    return paths;
}

inline void removeScratch()
{
    std::vector<std::string> &paths = scratchPaths();
    for (auto path = paths.rbegin(); path != paths.rend(); ++path)
        std::remove(path->c_str());
}

inline std::string scratchDirectory()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/korvanel-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        std::perror("fuzz: mkdtemp");
        std::abort();
    }
    if (scratchPaths().empty())
        std::atexit(removeScratch);
    scratchPaths().push_back(pattern);
    return pattern;
}

// Writes a file in the scratch directory, replacing what was there.
inline void writeWholeFile(const std::string &path, const void *bytes, std::size_t size)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::vector<std::string> &paths = scratchPaths();
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
        paths.push_back(path);
}

inline bool startsWithEndRecord(const std::string &piece)
{
    static const char endRecord[] = ":00000001FF";
    if (piece.size() < 11)
        return false;
    for (int i = 0; i < 11; ++i) {
        char c = piece[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != endRecord[i])
            return false;
    }
    return true;
}

#endif
