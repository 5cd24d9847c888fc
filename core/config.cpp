// core/config.cpp - placeholder until the configuration loader lands.
#include "core/config.h"

int Read_Config_Line(char *buf, FILE *, const char *)
{
    buf[0] = '\0';
    return -1;
}

gboolean Load_Config(gpointer)
{
    return FALSE;
}
