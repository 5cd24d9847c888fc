// decoder/adaptive.h - the adaptive decoder, a second engine beside the
// receiver's detector and state machine: finds the sender's pitch near the
// input tone and the sender's speed by itself, and needs no squelch or ratio.
// All its state is in one record per decoder, so several can run side by
// side; fed blocks of samples, it yields characters with their audio times.
// No GTK, no globals; allocates only in Adaptive_Create.
#ifndef VELKADOR_DECODER_ADAPTIVE_H
#define VELKADOR_DECODER_ADAPTIVE_H

#include <cstddef>
#include <cstdint>

// The speeds it follows, and how far off the input tone it looks for a signal.
constexpr int32_t ADAPTIVE_MIN_WPM = 6;
constexpr int32_t ADAPTIVE_MAX_WPM = 60;
constexpr double ADAPTIVE_PULL_HZ = 60.0;

// Sample rates it accepts; the tone must lie at least 200 Hz inside 0 .. rate/2.
constexpr int32_t ADAPTIVE_MIN_RATE = 4000;
constexpr int32_t ADAPTIVE_MAX_RATE = 384000;

struct adaptive_settings_t {
    int32_t rate_hz = 48000;  // of the samples fed
    double tone_hz = 800.0;   // the input tone
};

// A character (its text as the receiver's table spells it, "*" for a code
// not in the table) or a word gap (" "), with the audio times of its first
// mark's start and of its last element's end, in seconds from the first
// sample fed.
struct adaptive_char_t {
    char text[8];
    double start_s;
    double end_s;
};

// What a scope shows of the engine at its newest envelope sample, scaled so
// that the tracked mark level is 1: the envelope, the decision threshold,
// the decision, and whether a signal stands out of the noise at all.
struct adaptive_trace_t {
    float envelope;
    float threshold;
    bool mark;
    bool signal;
};

struct adaptive_decoder_t;

// nullptr with the reason in mesg when the settings are impossible or memory
// is short.
adaptive_decoder_t *Adaptive_Create(const adaptive_settings_t &settings, char *mesg, size_t len);
void Adaptive_Destroy(adaptive_decoder_t *dec);

// Feeds count samples, taking every stride-th value from data (stride 2 reads
// one channel of interleaved stereo). Characters found wait in the decoder
// for Adaptive_Next.
void Adaptive_Feed(adaptive_decoder_t *dec, const int16_t *data, int32_t count, int32_t stride);

// The oldest character waiting: 1 with it in *out, 0 when none waits.
int Adaptive_Next(adaptive_decoder_t *dec, adaptive_char_t *out);

// The input has ended: the character and word being received are completed
// as if a long gap followed.
void Adaptive_Finish(adaptive_decoder_t *dec);

// A new input tone (the operator moved it, or click-to-tune moved the rig):
// the pitch is searched afresh around it; the speed is kept.
void Adaptive_Retune(adaptive_decoder_t *dec, double tone_hz);

// The speed found, rounded to whole WPM within the followed range; the
// pitch the engine is locked to; seconds of audio fed.
int32_t Adaptive_Wpm(const adaptive_decoder_t *dec);
double Adaptive_Pitch_Hz(const adaptive_decoder_t *dec);
double Adaptive_Time_S(const adaptive_decoder_t *dec);
adaptive_trace_t Adaptive_Trace(const adaptive_decoder_t *dec);

#endif
