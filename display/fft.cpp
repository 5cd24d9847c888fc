// display/fft.cpp - placeholder until the FFT lands.
#include "display/fft.h"

int16_t *ifft_data = nullptr;
int16_t ifft_data_length = 0;
int16_t ifft_size = 0;
int16_t ifft_order = 0;
int16_t *sine_table = nullptr;
uint8_t ifft_ready = 0;

int Initialize_IFFT(int16_t)
{
    return 0;
}

void IFFT_Real(int16_t *) {}
