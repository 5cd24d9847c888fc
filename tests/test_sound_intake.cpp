// tests/test_sound_intake.cpp - the sample intake reading a real ALSA capture
// device (the file plug-in over the null slave) fed from a raw file.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/shared.h"
#include "sound/capture.h"
#include "sound/intake.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"

namespace {

// Value v of block b: distinct across blocks and channels.
int16_t Pattern(int block, int v)
{
    return static_cast<int16_t>(block * 1024 + v - 16000);
}

std::vector<int16_t> Blocks(int count)
{
    std::vector<int16_t> values;
    for (int b = 0; b < count; b++)
        for (int v = 0; v < SAMPLES_BUFFER_LEN; v++)
            values.push_back(Pattern(b, v));
    return values;
}

// Opens the file-backed device in the playback mode (no mixer needed) and
// makes the sample buffer as the configuration loader does.
Alsa_Test_Env Open_Device(const std::vector<int16_t> &values, int use_chnl)
{
    std::string dir = Make_Temp_Dir("intake");
    Write_Raw_Samples(dir + "/in.raw", values);
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/in.raw");
    Strlcpy(rc_data.snd_card, env.device.c_str(), sizeof(rc_data.snd_card));
    rc_data.snd_mode = MODE_PLAYBACK;
    rc_data.dsp_rate = 8000;
    rc_data.use_chnl = use_chnl;
    char mesg[128] = "";
    int error = 0;
    EXPECT_EQ(Setup_Sound_Card(mesg, &error), 1) << mesg << " " << snd_strerror(error);
    EXPECT_EQ(mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)), 1);
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    return env;
}

} // namespace

TEST(SoundIntake, HandsOutOneChannelBlockByBlock)
{
    for (int chnl = 0; chnl < 2; chnl++) {
        Open_Device(Blocks(3), chnl);
        for (int b = 0; b < 3; b++) {
            for (int i = 0; i < SAMPLES_BLOCK_FRAMES; i++) {
                int16_t s = 0;
                ASSERT_EQ(Signal_Sample(&s), 1);
                ASSERT_EQ(s, Pattern(b, 2 * i + chnl)) << "channel " << chnl << " block " << b << " sample " << i;
            }
        }
        Close_PCM_Handle();
    }
}
