// core/main.cpp - velkador's entry point; all of the program is in the library.
#include "core/startup.h"

int main(int argc, char *argv[])
{
    return Velkador_Main(argc, argv);
}
