// sound/recording.h - audio from a recording or a pipe in place of the capture
// device: any file libsndfile reads, or raw S16_LE on standard input, one
// channel taken and resampled to the detector's rate when it has another.
// Owns the open recording; while one is open the intake reads its blocks.
#ifndef VELKADOR_SOUND_RECORDING_H
#define VELKADOR_SOUND_RECORDING_H

#include <cstddef>
#include <cstdint>

struct recording_source_t {
    const char *path;      // a file, or "-" for raw S16_LE on standard input
    int32_t raw_rate;      // standard input only: frames per second
    int32_t raw_channels;  // standard input only: values per frame
    int32_t channel;       // 0 left (or the only one), 1 right
    int32_t dsp_rate;      // rate the blocks are handed out at
    int64_t tail_frames;   // silence after the end, so the last character completes
};

// How the recording ended, once Read_Recording_Block has returned 0.
enum {
    RECORDING_READING = 0,  // not ended yet
    RECORDING_ENDED,        // read to its end
    RECORDING_INTERRUPTED,  // a signal broke off a read from the pipe
    RECORDING_FAILED        // unreadable or truncated; the reason is in Recording_Error()
};

// Opens and checks the recording; 1 on success, else 0 with the reason in
// mesg (len bytes), the name of the file first.
int Open_Recording(const recording_source_t &source, char *mesg, size_t len);

// Fills data with frames stereo frames, the chosen channel in both places.
// 1 with a block; 0 once the recording and its tail of silence are used up.
int Read_Recording_Block(int16_t *data, int frames);

// From a signal handler: the next read ends the recording (async-signal-safe).
void Interrupt_Recording(void);

int Recording_Is_Open(void);
int Recording_Status(void);
const char *Recording_Error(void);

// Frames of the recording at dsp_rate handed out so far (tail excluded),
// and its rate and channels as read.
int64_t Recording_Frames(void);
int32_t Recording_Rate(void);
int32_t Recording_Channels(void);

void Close_Recording(void);

#endif
