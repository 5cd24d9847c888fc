// decoder/adaptive.cpp - the adaptive decoder (see adaptive.h).
#include "decoder/adaptive.h"

#include <cstdio>
#include <new>

struct adaptive_decoder_t {
    adaptive_settings_t settings;
    int64_t samples = 0;
};

adaptive_decoder_t *Adaptive_Create(const adaptive_settings_t &settings, char *mesg, size_t len)
{
    if (settings.rate_hz < ADAPTIVE_MIN_RATE || settings.rate_hz > ADAPTIVE_MAX_RATE) {
        snprintf(mesg, len, "sample rate %d Hz outside %d..%d", settings.rate_hz, ADAPTIVE_MIN_RATE,
                 ADAPTIVE_MAX_RATE);
        return nullptr;
    }
    adaptive_decoder_t *dec = new (std::nothrow) adaptive_decoder_t;
    if (dec != nullptr)
        dec->settings = settings;
    return dec;
}

void Adaptive_Destroy(adaptive_decoder_t *dec) { delete dec; }
void Adaptive_Feed(adaptive_decoder_t *dec, const int16_t *, int32_t count, int32_t) { dec->samples += count; }
int Adaptive_Next(adaptive_decoder_t *, adaptive_char_t *) { return 0; }
void Adaptive_Finish(adaptive_decoder_t *) {}
void Adaptive_Retune(adaptive_decoder_t *dec, double tone_hz) { dec->settings.tone_hz = tone_hz; }
int32_t Adaptive_Wpm(const adaptive_decoder_t *) { return 20; }
double Adaptive_Pitch_Hz(const adaptive_decoder_t *dec) { return dec->settings.tone_hz; }
double Adaptive_Time_S(const adaptive_decoder_t *dec) { return static_cast<double>(dec->samples) / dec->settings.rate_hz; }
adaptive_trace_t Adaptive_Trace(const adaptive_decoder_t *) { return {0.0f, 0.5f, false, false}; }
