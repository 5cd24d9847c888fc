// decoder/offline.h - the receiver's own detector, decoder and speed tracking
// run without a window: set up as the configuration loader sets them up, fed
// by a recording (sound/recording.h). Used by velkador-decode; the window
// never calls it, so its state stays the receiver's globals.
#ifndef VELKADOR_DECODER_OFFLINE_H
#define VELKADOR_DECODER_OFFLINE_H

#include <cstddef>
#include <cstdint>

// The receiver's settings; the defaults are those of the installed example
// configuration and the UI file.
struct offline_settings_t {
    int32_t tone_hz = 800;     // Input Tone before rounding
    int32_t wpm = 20;          // Initial WPM
    int32_t min_wpm = 10;
    int32_t max_wpm = 40;
    int32_t squelch = 3;
    double ratio = 2.0;
    bool auto_speed = false;   // the Auto check button
};

// The capture rate of the window: recordings at other rates are resampled
// to it, so that the tone is rounded as the window rounds it.
constexpr int32_t OFFLINE_DSP_RATE = 48000;

// The Input Tone as the set-up below rounds it (through rc_data's timing),
// for an engine that must hear the same tone as the window. 1 with it in
// *tone_hz; 0 with the reason in mesg.
int Round_Offline_Tone(const offline_settings_t &settings, int32_t *tone_hz, char *mesg, size_t len);

// Sets rc_data, the sample buffer, the detector and the speed shown for
// settings at OFFLINE_DSP_RATE, with the timing derived for the window's
// 511-pixel waterfall. 1 on success; 0 with the reason in mesg.
int Setup_Offline_Decoder(const offline_settings_t &settings, char *mesg, size_t len);

// Silence that lets the decoder finish the last character and word after a
// recording ends, however slow the unit has become: in frames at the rate.
int64_t Offline_Tail_Frames(void);

// True when the decoder step just run began a character: its first mark
// after a gap (for the timestamp of a line).
bool Offline_Character_Began(int32_t state_before, int32_t state_after);

#endif
