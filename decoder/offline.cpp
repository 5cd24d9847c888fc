// decoder/offline.cpp - the configuration loader's set-up without its window:
// the same timing derivation, sample buffer and detector, with the speed
// shown in an adjustment in place of the speed button.
#include "decoder/offline.h"

#include <cstdio>

#include "core/config.h"
#include "core/shared.h"
#include "decoder/detector.h"
#include "decoder/morse.h"
#include "decoder/speed.h"
#include "sound/intake.h"

namespace {

// Fragments measured together: enough independent Goertzel chains to keep
// the floating-point units busy (each chain waits about 12 cycles per sample).
constexpr int32_t OFFLINE_LOOKAHEAD = 8;

}  // namespace

int Round_Offline_Tone(const offline_settings_t &s, int32_t *tone_hz, char *mesg, size_t len)
{
    rc_data.dsp_rate = OFFLINE_DSP_RATE;
    rc_data.tone_freq = s.tone_hz;
    rc_data.use_chnl = 0;
    if (!Derive_Timing(WINDOW_IFFT_LENGTH, WINDOW_WFALL_WIDTH, s.min_wpm, s.max_wpm)) {
        snprintf(mesg, len, "a tone of %d Hz is above a quarter of the %d Hz rate", s.tone_hz,
                 OFFLINE_DSP_RATE);
        return 0;
    }
    *tone_hz = rc_data.tone_freq;
    return 1;
}

int Setup_Offline_Decoder(const offline_settings_t &s, char *mesg, size_t len)
{
    int32_t tone_hz = 0;
    if (!Round_Offline_Tone(s, &tone_hz, mesg, len))
        return 0;
    rc_data.det_squelch = s.squelch;
    rc_data.det_ratio = s.ratio;
    Show_Speed_Without_Window(s.min_wpm, s.max_wpm, s.wpm);
    if (s.auto_speed)
        Set_Flag(ADAPT_SPEED);
    else
        Clear_Flag(ADAPT_SPEED);

    // No scope and no waterfall: the detector draws no trace and the
    // waterfall's intake ignores the samples while its FFT is not set up.
    scope_width = 0;
    scope_height = 0;
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    if (!mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)) || !Initialize_Detector() ||
        !Set_Detector_Lookahead(OFFLINE_LOOKAHEAD)) {
        snprintf(mesg, len, "not enough memory for the detector");
        return 0;
    }
    Set_Flag(RCCONFIG_OK | DETECTOR_READY);
    return 1;
}

int64_t Offline_Tail_Frames(void)
{
    // The decoder yields the word gap 7 units after a mark ends, and the
    // detector's windows trail the audio by about 2 units more.
    const int64_t frag_len = (2 * rc_data.dsp_rate) / rc_data.tone_freq;
    return 12 * static_cast<int64_t>(rc_data.max_unit) * frag_len;
}

bool Offline_Character_Began(int32_t before, int32_t after)
{
    if (after != STATE_MARK)
        return false;
    return before == STATE_INIT || before == STATE_CHAR_SPACE || before == STATE_WORD_SPACE ||
           before == STATE_LONG_SPACE;
}
