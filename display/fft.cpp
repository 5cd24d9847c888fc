// display/fft.cpp - the waterfall's spectrum: 2N real samples packed two to
// a complex element, an N-point radix-2 FFT in Q15 fixed point, then a split
// into the spectrum of the real samples. Integer arithmetic only after set-up.
//
// Every butterfly halves its inputs, so the whole transform divides by N.
// Sums and products are formed in 32 bits; whatever goes back into the
// buffer keeps its low 16 bits (two's complement wrap-around, on purpose).
#include "display/fft.h"

#include <cmath>
#include <cstdio>

#include "core/shared.h"
#include "ui/interface.h"

int16_t *ifft_data = nullptr;
int16_t ifft_data_length = 0;
int16_t ifft_size = 0;
int16_t ifft_order = 0;
int16_t *sine_table = nullptr;
uint8_t ifft_ready = 0;

namespace {

// The largest N whose 2N still fits the signed 16-bit length.
constexpr int MAX_IFFT_SIZE = 8192;

// R(x): x / 32768 rounded to nearest, halves up; the arithmetic shift keeps the sign.
inline int32_t Round_Q15(int32_t x)
{
    return (x >> 15) + ((x >> 14) & 1);
}

inline int16_t Wrap16(int32_t x)
{
    return static_cast<int16_t>(x);
}

// Buffers and table are gone or mis-sized: forget the size so that the
// next call, even with the same N, sets everything up anew.
int Fail_Setup(void)
{
    ifft_size = 0;
    ifft_ready = 0;
    return 0;
}

}  // namespace

int Initialize_IFFT(int16_t size)
{
    const int n = size;
    // Zero passes the bit test but is no size at all.
    if (n <= 0 || (n & (n - 1)) != 0) {
        fprintf(stderr, _("FFT size %d is not a power of 2 - aborting\n"), n);
        Error_Dialog(_("FFT size is not a power of 2"));
        ifft_ready = 0;
        return 0;
    }

    int order = 0;
    for (int m = n; m > 1; m >>= 1)
        order++;
    ifft_order = static_cast<int16_t>(order);

    if (n == ifft_size) {
        ifft_ready = 1;
        return 1;
    }

    // 2N must fit ifft_data_length: 16384 cannot be set up.
    if (n > MAX_IFFT_SIZE) {
        fprintf(stderr, "velkador: FFT size %d is too large - aborting\n", n);
        Error_Dialog(_("A memory re-allocation failed\nPlease quit velkador and correct"));
        return Fail_Setup();
    }

    ifft_size = static_cast<int16_t>(n);
    ifft_data_length = static_cast<int16_t>(2 * n);
    const int table_len = (3 * 2 * n) / 4;
    if (!mem_realloc(&ifft_data, sizeof(int16_t) * static_cast<size_t>(2 * n)))
        return Fail_Setup();
    if (!mem_realloc(&sine_table, sizeof(int16_t) * static_cast<size_t>(table_len)))
        return Fail_Setup();

    // The angle is accumulated, not multiplied out, so the table's last
    // bits depend on the summation order; keep it as it is.
    const double step = 6.283185307179586 / static_cast<double>(2 * n);
    double angle = 0.0;
    for (int i = 0; i < table_len; i++) {
        sine_table[i] = static_cast<int16_t>(sin(angle) * 32767.0);
        angle += step;
    }

    ifft_ready = 1;
    return 1;
}

void IFFT_Real(int16_t *data)
{
    const int n_size = ifft_size;
    const int order = ifft_order;
    const int q = ifft_data_length / 4;
    if (data == nullptr || sine_table == nullptr || n_size < 1)
        return;

    // Bit-reversal permutation of the complex elements.
    for (int i = 1; i < n_size - 1; i++) {
        int r = 0;
        for (int b = 0, v = i; b < order; b++, v >>= 1)
            r = (r << 1) | (v & 1);
        if (i < r) {
            int16_t tmp = data[2 * i];
            data[2 * i] = data[2 * r];
            data[2 * r] = tmp;
            tmp = data[2 * i + 1];
            data[2 * i + 1] = data[2 * r + 1];
            data[2 * r + 1] = tmp;
        }
    }

    // Butterfly passes; twiddles are Q15 halved, so the product's rounding
    // also halves the bottom element, like the top's shift.
    for (int s = 0; s < order; s++) {
        const int h = 1 << s;
        const int t_step = 1 << (order - s);
        for (int j = 0; j < h; j++) {
            const int t = j * t_step;
            const int32_t c = sine_table[t + q] >> 1;
            const int32_t w = (-static_cast<int32_t>(sine_table[t])) >> 1;  // negate, then shift
            for (int k = j; k < n_size; k += 2 * h) {
                int16_t *top = data + 2 * k;
                int16_t *bottom = data + 2 * (k + h);
                const int32_t ar = top[0], ai = top[1];
                const int32_t br = bottom[0], bi = bottom[1];
                const int32_t tr = Round_Q15(br * c) - Round_Q15(bi * w);
                const int32_t ti = Round_Q15(bi * c) + Round_Q15(br * w);
                bottom[0] = Wrap16((ar >> 1) - tr);
                bottom[1] = Wrap16((ai >> 1) - ti);
                top[0] = Wrap16((ar >> 1) + tr);
                top[1] = Wrap16((ai >> 1) + ti);
            }
        }
    }

    // Split the packed spectrum into that of the 2N real samples. Element k
    // and its partner N - k are both read before either is written; for
    // k = N/2 they coincide and the second write stands.
    for (int j = 0; j < n_size / 2; j++) {
        const int k = j + 1;
        const int p = n_size - 1 - j;
        const int32_t ur = data[2 * k], ui = data[2 * k + 1];
        const int32_t vr = data[2 * p], vi = data[2 * p + 1];
        const int32_t sn = sine_table[k];
        const int32_t cs = sine_table[k + q];

        const int32_t dre = Wrap16(ur - vr);
        const int32_t sim = Wrap16(ui + vi);
        const int32_t sre = Wrap16(ur + vr);
        const int32_t dim = Wrap16(ui - vi);

        const int32_t hs = Wrap16(Round_Q15(cs * sim)) + Wrap16(Round_Q15(sn * dre));
        const int32_t ms = Wrap16(Round_Q15(sn * sim)) - Wrap16(Round_Q15(cs * dre));

        data[2 * k] = Wrap16((sre + hs) / 2);
        data[2 * k + 1] = Wrap16((dim + ms) / 2);
        data[2 * p] = Wrap16((sre - hs) / 2);
        data[2 * p + 1] = Wrap16((ms - dim) / 2);
    }

    // Bin 0 and bin N are both real: pack them into element 0.
    const int32_t a = data[0], b = data[1];
    data[0] = Wrap16(a + b);
    data[1] = Wrap16(a - b);
}
