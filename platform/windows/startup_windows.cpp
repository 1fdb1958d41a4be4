// The command line reaches the program as typed: the MinGW runtime would
// otherwise expand wildcards in the arguments.
extern "C" {
int _dowildcard = 0;
}
