// tests/test_morse_rx_harness.cpp - the real receive path for the decoder
// tests and the benchmark.
#include "test_morse_rx.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "core/shared.h"
#include "decoder/detector.h"
#include "decoder/morse.h"
#include "sound/capture.h"
#include "sound/intake.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"

namespace {
std::string raw_file;  // the audio of the device now open
}

int64_t Start_Rx(const std::vector<int16_t> &stereo, const Rx_Setup &setup)
{
    raw_file = Make_Temp_Dir("morse-rx") + "/in.raw";
    Write_Raw_Samples(raw_file, stereo);
    Alsa_Test_Env env = Make_Alsa_Test_Env(raw_file);

    Strlcpy(rc_data.snd_card, env.device.c_str(), sizeof(rc_data.snd_card));
#ifdef VELKADOR_TEST_MIXER_PLUGIN
    rc_data.snd_mode = MODE_CAPTURE;
    Strlcpy(rc_data.cap_src, "Capture", sizeof(rc_data.cap_src));
    Strlcpy(rc_data.cap_vol, "Capture", sizeof(rc_data.cap_vol));
    rc_data.channel = 0;
    rc_data.cap_level = 100;
#else
    // Without the test mixer the device is opened without a mixer step.
    rc_data.snd_mode = MODE_PLAYBACK;
#endif
    rc_data.dsp_rate = setup.dsp_rate;
    rc_data.tone_freq = setup.tone_freq;
    rc_data.use_chnl = setup.use_chnl;
    const int32_t c = setup.tone_freq * 60;
    rc_data.max_unit = c / (setup.min_wpm * 100);
    rc_data.max_unit_x2 = 2 * rc_data.max_unit;
    rc_data.min_unit = c / (setup.max_wpm * 100);
    rc_data.unit_elem = c / (setup.wpm * 100);
    rc_data.det_squelch = setup.squelch;
    rc_data.det_ratio = setup.ratio;

    if (samples_buffer.data == nullptr) {
        EXPECT_EQ(mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)), 1);
    }
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    scope_width = 400;
    scope_height = 100;

    EXPECT_EQ(Initialize_Detector(), 1);
    char mesg[128] = "";
    int error = 0;
    EXPECT_EQ(Setup_Sound_Card(mesg, &error), 1) << mesg << " " << snd_strerror(error);

    const int64_t frames = static_cast<int64_t>(stereo.size() / 2);
    const int32_t frag_len = (2 * setup.dsp_rate) / setup.tone_freq;
    // The intake reads whole blocks of 512 frames: stop before a block that
    // the file cannot fill.
    const int64_t usable = (frames / SAMPLES_BLOCK_FRAMES) * SAMPLES_BLOCK_FRAMES;
    return usable / frag_len;
}

Rx_Result Run_Rx(int64_t count, const std::function<void(const char *)> &on_text)
{
    Rx_Result result;
    for (int64_t i = 0; i < count; i++) {
        char buf[5] = "";
        if (!Get_Character(buf)) {
            result.failed = true;
            break;
        }
        result.fragments++;
        if (buf[0] != '\0') {
            result.text += buf;
            if (on_text)
                on_text(buf);
        }
    }
    return result;
}

Rx_Result Decode_Stereo(const std::vector<int16_t> &stereo, const Rx_Setup &setup)
{
    int64_t count = Start_Rx(stereo, setup);
    Rx_Result result = Run_Rx(count);
    Stop_Rx();
    return result;
}

void Stop_Rx(void)
{
    Close_PCM_Handle();
    if (!raw_file.empty())
        unlink(raw_file.c_str());  // minutes of audio: do not leave it behind
    raw_file.clear();
}

std::string Normalised(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        if (ch == ' ' || ch == '\n' || ch == '\t') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        out += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}
