// cat/serial.cpp - placeholder until the CAT link lands.
#include "cat/serial.h"

int Open_Tcvr_Serial(void)
{
    return 0;
}

void Close_Tcvr_Serial(void) {}

int Write_Tcvr_Serial(const unsigned char *, size_t)
{
    return 0;
}

int Read_Tcvr_Serial(unsigned char *, size_t)
{
    return 0;
}

void Abort_Tcvr_Serial(void) {}
void Emergency_Close_Tcvr_Serial(void) {}
