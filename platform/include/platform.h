// What korvanel needs of its platform beyond the Windows serial calls in
// winapi.h: a millisecond clock, the console keyboard and text-mode reading
// of a file. Each platform folder provides these; the build picks one.
#ifndef KORVANEL_PLATFORM_H
#define KORVANEL_PLATFORM_H

#include <cstdio>

// Milliseconds since some fixed moment; never goes back, and keeps counting
// while the process blocks in a read or a sleep.
unsigned long clockMs();

// Throws away every key press already waiting on the console keyboard.
// Does nothing when standard input is not a console.
void discardPendingKeys();

// Reads one key press without echo and without Enter. The bytes of one
// function or arrow key count as one press; the first byte is returned.
// When standard input is not a console, one byte is read from stdin.
// Returns -1 at the end of input.
int readKeyPress();

// Opens a file for reading as the Windows C runtime reads a text file.
FILE *openTextFile(const char *path);
// As fgets on a text-mode file: each CR LF pair arrives as one LF, and a
// Ctrl-Z byte ends the file. Returns nullptr when nothing could be read.
char *readTextLine(char *buffer, int limit, FILE *file);
int closeTextFile(FILE *file);

#endif
