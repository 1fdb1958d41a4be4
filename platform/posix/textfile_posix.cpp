// Text files read as the Windows C runtime reads them in text mode, so that
// a file gives the same lines on every platform.
#include "platform.h"

namespace {

const int endOfFileMark = 0x1A;

} // namespace

FILE *openTextFile(const char *path)
{
    return std::fopen(path, "rb");
}

char *readTextLine(char *buffer, int limit, FILE *file)
{
    if (buffer == nullptr || limit <= 0 || file == nullptr)
        return nullptr;
    int length = 0;
    while (length < limit - 1) {
        int c = std::getc(file);
        if (c == EOF)
            break;
        if (c == endOfFileMark) {
            // Put it back, so that every later read stops at it as well.
            std::ungetc(c, file);
            break;
        }
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        buffer[length++] = char(c);
        if (c == '\n')
            break;
    }
    if (length == 0 && limit > 1)
        return nullptr;
    buffer[length] = '\0';
    return buffer;
}

int closeTextFile(FILE *file)
{
    return std::fclose(file);
}
