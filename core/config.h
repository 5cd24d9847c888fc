// core/config.h - reads and checks ~/.velkador/velkadorrc once, when the main
// loop is first idle, and derives the timing values shared by the detector,
// the decoder and the waterfall.
#ifndef VELKADOR_CORE_CONFIG_H
#define VELKADOR_CORE_CONFIG_H

#include <cstdio>

#include <glib.h>

constexpr int CONFIG_LINE_MAX = 80;

// 0 with a value in buf (81 bytes at least); -1 at a premature end of file;
// 1 for an overlong line. On -1 and 1 the error is reported and fp closed.
int Read_Config_Line(char *buf, FILE *fp, const char *name);
gboolean Load_Config(gpointer);

#endif
