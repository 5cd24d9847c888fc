// display/fft.h - 16-bit fixed-point FFT of 2N real samples, in place.
// Owns ifft_data (filled by the waterfall's intake) and the sine table.
#ifndef VELKADOR_DISPLAY_FFT_H
#define VELKADOR_DISPLAY_FFT_H

#include <cstdint>

extern int16_t *ifft_data;        // 2N values: element m = (value 2m, value 2m + 1)
extern int16_t ifft_data_length;  // 2N
extern int16_t ifft_size;         // N
extern int16_t ifft_order;        // log2 N
extern int16_t *sine_table;       // 3N/2 entries of sin(2*pi*i / 2N) * 32767
extern uint8_t ifft_ready;

int Initialize_IFFT(int16_t size);
void IFFT_Real(int16_t *data);

#endif
