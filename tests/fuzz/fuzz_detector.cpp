// tests/fuzz/fuzz_detector.cpp - the tone detector, the decoder and the
// waterfall fed arbitrary audio through the sample intake, at any rate, tone
// and waterfall width the configuration loader accepts, with the loader's
// timing derivation. The device read (snd_pcm_readi, wrapped at link time)
// hands out the input's audio.
//
// Header (12 bytes): rate (3 bytes), tone (2), waterfall width exponent,
// waterfall height, minimum and maximum WPM, initial WPM, squelch, and a
// byte for the ratio, the scope mode and Auto. Then S16_LE stereo frames.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/shared.h"
#include "decoder/detector.h"
#include "decoder/morse.h"
#include "display/fft.h"
#include "display/waterfall.h"
#include "fuzz_shared.h"
#include "sound/capture.h"
#include "sound/intake.h"

namespace {

const uint8_t *audio = nullptr;
size_t audio_frames = 0;
int dummy_device = 0;

constexpr int SCOPE_WIDTH = 120;
constexpr int SCOPE_HEIGHT = 40;

// The loader's derivation (see core/config.cpp); false where it refuses.
bool Derive_Timing(int rate, int tone, int width, int height, int min_wpm, int max_wpm, int wpm)
{
    rc_data.dsp_rate = rate;
    rc_data.tone_freq = tone;
    if (tone <= 199 || rate / tone < 4)
        return false;
    if (Waterfall_Configure_Event(width, height) != 1)
        return false;
    const int d = (2 * ifft_data_length) / wfall_width;
    if (d != 0) {
        rc_data.ifft_decimate = (rate / tone) / d;
        if (rc_data.ifft_decimate < 1)
            return false;
        rc_data.tone_freq = (rate / rc_data.ifft_decimate) / d;
    }
    const int c = rc_data.tone_freq * 60;
    rc_data.max_unit = c / (min_wpm * 100);
    rc_data.max_unit_x2 = 2 * rc_data.max_unit;
    rc_data.min_unit = c / (max_wpm * 100);
    rc_data.unit_elem = c / (wpm * 100);
    return true;
}

}  // namespace

extern "C" snd_pcm_sframes_t __wrap_snd_pcm_readi(snd_pcm_t *, void *buffer, snd_pcm_uframes_t size)
{
    size_t n = size < audio_frames ? size : audio_frames;
    memcpy(buffer, audio, n * 4);
    audio += n * 4;
    audio_frames -= n;
    return static_cast<snd_pcm_sframes_t>(n);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)))
        abort();
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    scope_width = SCOPE_WIDTH;
    scope_height = SCOPE_HEIGHT;
    // Never dereferenced: every read goes to the wrapper above.
    pcm_handle = reinterpret_cast<snd_pcm_t *>(&dummy_device);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 12)
        return 0;
    // Every rate up to the loader's limit of 1536000 Hz.
    const int rate = (data[0] | data[1] << 8 | data[2] << 16) % 1536001;
    const int tone = data[3] | data[4] << 8;
    const int width = (1 << (1 + data[5] % 13)) - 1;
    const int height = 1 + data[6] % 64;
    const int min_wpm = 6 + data[7] % 55;
    const int max_wpm = min_wpm + data[8] % (61 - min_wpm);
    const int wpm = min_wpm + data[9] % (max_wpm - min_wpm + 1);
    if (!Derive_Timing(rate, tone, width, height, min_wpm, max_wpm, wpm))
        return 0;
    rc_data.det_squelch = data[10] % 51;
    rc_data.det_ratio = 1.0 + (data[11] & 0x1f) * 0.1;
    static const int32_t modes[] = {DISPLAY_SIGNAL, DISPLAY_RATIO, DISPLAY_LEVEL, DISPLAY_SIGNAL | HOLD_SCOPE};
    Clear_Flag(DISPLAY_SIGNAL | DISPLAY_RATIO | DISPLAY_LEVEL | HOLD_SCOPE | ADAPT_SPEED);
    Set_Flag(modes[(data[11] >> 5) & 3]);
    if (data[11] & 0x80)
        Set_Flag(ADAPT_SPEED);
    rc_data.use_chnl = data[6] >> 7;

    if (!Initialize_Detector())
        abort();
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    audio = data + 12;
    audio_frames = (size - 12) / 4;

    // Until the audio is used up: a fragment that the input cannot fill
    // would be read from the device's silence.
    const int32_t frag_len = (2 * rc_data.dsp_rate) / rc_data.tone_freq;
    for (;;) {
        const size_t buffered = static_cast<size_t>(samples_buffer.length - samples_buffer.index + 1) / 2;
        if (audio_frames + buffered < static_cast<size_t>(frag_len))
            break;
        char buf[5] = "";
        if (!Get_Character(buf))
            abort();
        if (memchr(buf, '\0', sizeof(buf)) == nullptr)
            abort();
    }
    return 0;
}
