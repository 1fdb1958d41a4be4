// Small files for tests, in a directory removed when the test ends.
#ifndef KORVANEL_TEST_FILES_H
#define KORVANEL_TEST_FILES_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

struct TempDir {
    std::string path;
    TempDir()
    {
        char pattern[] = "/tmp/korvanel-test-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir()
    {
        if (path.empty())
            return;
        if (DIR *dir = opendir(path.c_str())) {
            while (dirent *entry = readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    unlink((path + "/" + entry->d_name).c_str());
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
};

inline std::string writeFile(const TempDir &dir, const std::string &name, const std::string &bytes)
{
    std::string path = dir.path + "/" + name;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

// One Intel HEX record with its checksum, without a line end.
inline std::string hexRecord(unsigned address, unsigned type, const std::vector<unsigned> &data)
{
    std::vector<unsigned> bytes = {unsigned(data.size()), (address >> 8) & 0xFF, address & 0xFF, type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned b : bytes)
        sum += b;
    bytes.push_back((0x100 - (sum & 0xFF)) & 0xFF);
    std::string text = ":";
    char pair[3];
    for (unsigned b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b & 0xFF);
        text += pair;
    }
    return text;
}

#endif
