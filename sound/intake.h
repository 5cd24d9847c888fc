// sound/intake.h - hands out the samples of one channel, reading the device
// in blocks of 512 stereo frames (or a recording's, sound/recording.h); every
// sample also goes to the waterfall. Owns samples_buffer (created by the
// configuration loader, or by the decoder set-up without a window).
#ifndef VELKADOR_SOUND_INTAKE_H
#define VELKADOR_SOUND_INTAKE_H

#include <cstdint>

constexpr int SAMPLES_BLOCK_FRAMES = 512;
constexpr int SAMPLES_BUFFER_LEN = 2 * SAMPLES_BLOCK_FRAMES;

struct samples_buffer_t {
    int16_t *data;   // 512 interleaved stereo frames as the device delivers them
    int32_t index;   // next value to hand out
    int32_t length;  // values in data: 1024
};

extern samples_buffer_t samples_buffer;

// 1 with a sample stored in *sample; 0 when the device failed beyond recovery
// or the recording has ended.
int Signal_Sample(int16_t *sample);

#endif
