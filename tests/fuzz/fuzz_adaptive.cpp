// tests/fuzz/fuzz_adaptive.cpp - the adaptive decoder on arbitrary audio at
// any rate and tone, fed in arbitrary blocks, with retunes and early ends.
//
// Header (8 bytes): the rate (3 bytes; mostly 4 to 16 kHz, where a short
// input holds the most seconds), the tone in quarters of a hertz (2), a byte
// for the stride and the channel, and a 16-bit seed for the schedule: the
// block sizes and when the trace is read, the tone moved or the input ended.
// The audio itself is the rest, S16_LE, untouched, so that a recording of
// real Morse stays one under mutation of the header.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoder/adaptive.h"
#include "decoder/morse.h"

namespace {

constexpr size_t HEADER_LEN = 8;
constexpr size_t MAX_SAMPLES = 32768;  // run-fuzzers' -max_len, in samples
int16_t audio[MAX_SAMPLES];            // aligned, unlike the input

uint32_t schedule = 1;

uint32_t Next_Draw(void)
{
    schedule = schedule * 1103515245u + 12345u;
    return schedule >> 8;
}

void Fail(const char *what)
{
    fprintf(stderr, "fuzz_adaptive: %s\n", what);
    abort();
}

bool Is_Table_Text(const char *text)
{
    if (strcmp(text, " ") == 0 || strcmp(text, "*") == 0)
        return true;
    for (uint32_t code = 2; code < 256; code++)
        if (strcmp(Morse_Lookup(code), text) == 0)
            return true;
    return false;
}

// What the decoder hands out must be what its interface promises.
void Check_Output(adaptive_decoder_t *dec, double tone_hz)
{
    adaptive_char_t c;
    const double fed_s = Adaptive_Time_S(dec);
    while (Adaptive_Next(dec, &c)) {
        if (memchr(c.text, '\0', sizeof(c.text)) == nullptr || !Is_Table_Text(c.text))
            Fail("a text that is not in the table");
        if (!std::isfinite(c.start_s) || !std::isfinite(c.end_s) || c.start_s < 0.0 || c.start_s > c.end_s ||
            c.end_s > fed_s + 1e-6)
            Fail("a character's times are outside the audio fed");
    }
    const int32_t wpm = Adaptive_Wpm(dec);
    if (wpm < ADAPTIVE_MIN_WPM || wpm > ADAPTIVE_MAX_WPM)
        Fail("a speed outside the followed range");
    const double pitch = Adaptive_Pitch_Hz(dec);
    if (!std::isfinite(pitch) || std::fabs(pitch - tone_hz) > ADAPTIVE_PULL_HZ + 1.0)
        Fail("a pitch farther from the tone than it looks");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < HEADER_LEN)
        return 0;
    const uint32_t r = data[0] | data[1] << 8 | data[2] << 16;
    adaptive_settings_t settings;
    // Either side of the accepted range too, for the refusals.
    settings.rate_hz = (data[2] & 0x80) == 0 ? static_cast<int32_t>(4000 + r % 12001) : static_cast<int32_t>(r % 400001);
    settings.tone_hz = (data[3] | data[4] << 8) / 4.0;
    const int32_t stride = 1 + (data[5] & 1);
    const int32_t channel = stride == 2 ? (data[5] >> 1) & 1 : 0;
    schedule = 1u + (data[6] | data[7] << 8);

    char mesg[128] = "";
    adaptive_decoder_t *dec = Adaptive_Create(settings, mesg, sizeof(mesg));
    if (dec == nullptr) {
        if (memchr(mesg, '\0', sizeof(mesg)) == nullptr || mesg[0] == '\0')
            Fail("a refusal without a reason");
        return 0;
    }

    size_t samples = (size - HEADER_LEN) / 2;
    if (samples > MAX_SAMPLES)
        samples = MAX_SAMPLES;
    memcpy(audio, data + HEADER_LEN, samples * 2);
    const int32_t frames =
        samples > static_cast<size_t>(channel) ? static_cast<int32_t>((samples - channel) / stride) : 0;

    double tone_hz = settings.tone_hz;
    for (int32_t done = 0; done < frames;) {
        const uint32_t draw = Next_Draw();
        int32_t count = 1 + static_cast<int32_t>(draw % (2u << (draw >> 20) % 12));
        if (count > frames - done)
            count = frames - done;
        Adaptive_Feed(dec, audio + static_cast<size_t>(done) * stride + channel, count, stride);
        done += count;

        const uint32_t event = Next_Draw() % 64;
        if (event == 0) {
            // Anywhere, the impossible tones included: those are ignored.
            const double moved = tone_hz + (static_cast<double>(Next_Draw() % 4001) - 2000.0) / 10.0;
            Adaptive_Retune(dec, moved);
            if (moved >= 200.0 && moved <= settings.rate_hz / 2.0 - 200.0)
                tone_hz = moved;
        } else if (event == 1) {
            Adaptive_Finish(dec);
        } else if (event < 8) {
            const adaptive_trace_t t = Adaptive_Trace(dec);
            if (!std::isfinite(t.envelope) || !std::isfinite(t.threshold))
                Fail("a trace that is no number");
        }
        Check_Output(dec, tone_hz);
    }
    Adaptive_Finish(dec);
    Check_Output(dec, tone_hz);
    Adaptive_Destroy(dec);
    return 0;
}
