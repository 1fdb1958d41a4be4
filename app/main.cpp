#include "app/frontend.h"

int main(int argc, char **argv)
{
    return korvanelMain(argc, argv);
}
