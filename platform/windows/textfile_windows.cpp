#include "platform.h"

// The C runtime's text mode already turns CR LF into LF and stops at Ctrl-Z.
FILE *openTextFile(const char *path)
{
    return std::fopen(path, "r");
}

char *readTextLine(char *buffer, int limit, FILE *file)
{
    return std::fgets(buffer, limit, file);
}

int closeTextFile(FILE *file)
{
    return std::fclose(file);
}
