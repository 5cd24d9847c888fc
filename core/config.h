// core/config.h - reads and checks ~/.velkador/velkadorrc once, when the main
// loop is first idle, and derives the timing values shared by the detector,
// the decoder and the waterfall.
#ifndef VELKADOR_CORE_CONFIG_H
#define VELKADOR_CORE_CONFIG_H

#include <cstdio>

#include <glib.h>

constexpr int CONFIG_LINE_MAX = 80;

// Limits of the configured speeds and tone, shared with velkador-decode.
constexpr int MIN_WPM_LIMIT = 6;     // lowest Minimum WPM
constexpr int MAX_WPM_LIMIT = 60;    // highest Maximum WPM
constexpr int MIN_INPUT_TONE = 200;  // lowest Input Tone, Hz

// The window's waterfall: 511 pixels over an FFT of 1024 values.
constexpr int WINDOW_WFALL_WIDTH = 511;
constexpr int WINDOW_IFFT_LENGTH = 1024;

// The timing values in rc_data from dsp_rate, tone_freq and the speed
// limits, for an FFT of ifft_length values drawn over wfall_width pixels:
// ifft_decimate, tone_freq rounded to the waterfall's middle column, and
// min_unit, max_unit, max_unit_x2. 0 (nothing changed) when the rate leaves
// no whole decimation factor for the tone; 1 otherwise.
int Derive_Timing(int ifft_length, int wfall_width, int min_wpm, int max_wpm);

// 0 with a value in buf (81 bytes at least); -1 at a premature end of file;
// 1 for an overlong line. On -1 and 1 the error is reported and fp closed.
int Read_Config_Line(char *buf, FILE *fp, const char *name);
gboolean Load_Config(gpointer);

#endif
