// tests/test_sound_capture.cpp - device set-up and teardown against real ALSA:
// the file-backed capture PCM, the project's virtual mixer (which logs every
// write) and a PCM that runs at one rate only.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "core/shared.h"
#include "core/startup.h"
#include "sound/capture.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

Alsa_Test_Env Configure(const char *cap_src, const char *cap_vol, int channel, int level)
{
    std::string dir = Make_Scratch_Dir("capture");
    Write_Raw_Samples(dir + "/in.raw", {});
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/in.raw");
    Strlcpy(rc_data.snd_card, env.device.c_str(), sizeof(rc_data.snd_card));
    Strlcpy(rc_data.cap_src, cap_src, sizeof(rc_data.cap_src));
    Strlcpy(rc_data.cap_vol, cap_vol, sizeof(rc_data.cap_vol));
    rc_data.snd_mode = MODE_CAPTURE;
    rc_data.dsp_rate = 8000;
    rc_data.channel = channel;
    rc_data.cap_level = level;
    return env;
}

// The last value written to each (element, control, channel).
std::map<std::tuple<std::string, std::string, int>, long> Mixer_State(const Alsa_Test_Env &env)
{
    std::map<std::tuple<std::string, std::string, int>, long> state;
    for (const Mixer_Write &w : Read_Mixer_Log(env))
        state[{w.element, w.control, w.channel}] = w.value;
    return state;
}

// Set-up as the receive control runs it: empty message, error code 0.
int Run_Setup(std::string *mesg, int *error)
{
    char buf[128] = "";
    *error = 0;
    int ok = Setup_Sound_Card(buf, error);
    *mesg = buf;
    return ok;
}

} // namespace

TEST(SoundCapture, FullSetUpSwitchesTheChannelOnAndSetsTheLevel)
{
    // Range 0..31: the product is truncated, so 50 % gives 15.
    const struct { const char *elem; int channel; int level; long volume; } cases[] = {
        {"Mic", 1, 50, 15}, {"Mic", 0, 0, 0}, {"Mic", 1, 100, 31}, {"Capture", 0, 33, 10},
    };
    for (const auto &c : cases) {
        Alsa_Test_Env env = Configure(c.elem, c.elem, c.channel, c.level);
        std::string mesg;
        int error = -1;
        ASSERT_EQ(Run_Setup(&mesg, &error), 1) << mesg;
        EXPECT_EQ(mesg, "");
        EXPECT_EQ(error, 0);
        ASSERT_NE(pcm_handle, nullptr);
        EXPECT_EQ(snd_pcm_state(pcm_handle), SND_PCM_STATE_PREPARED);

        auto state = Mixer_State(env);
        int other = 1 - c.channel;
        EXPECT_EQ((state[{c.elem, "switch", c.channel}]), 1) << c.elem << " " << c.level;
        EXPECT_EQ((state[{c.elem, "switch", other}]), 0);
        EXPECT_EQ((state[{c.elem, "volume", c.channel}]), c.volume) << c.elem << " " << c.level;
        EXPECT_EQ((state[{c.elem, "volume", other}]), 5) << "the other channel keeps its level";
        Close_PCM_Handle();
    }
}

TEST(SoundCapture, OnlyTwoDashesSkipTheVolumeOtherNamesOnlyWarn)
{
    REQUIRE_DISPLAY();
    Build_Test_Window();
    const struct { const char *cap_vol; const char *warning; } cases[] = {
        {"--", ""},
        {"-", "Cannot find Volume element: -"},
        {"---", "Cannot find Volume element: ---"},
        {"-- ", "Cannot find Volume element: -- "},
        {"Master", "Element has no Volume control: Master"},
    };
    for (const auto &c : cases) {
        Alsa_Test_Env env = Configure("Mic", c.cap_vol, 0, 50);
        std::string mesg;
        int error = -1;
        EXPECT_EQ(Run_Setup(&mesg, &error), 1) << "'" << c.cap_vol << "'";
        EXPECT_EQ(error, 0);
        EXPECT_EQ(mesg, c.warning);
        EXPECT_EQ(Error_Dialog_Text(), c.warning);
        // Switch writes rewrite the element's volume unchanged; no level is set.
        for (const Mixer_Write &w : Read_Mixer_Log(env)) {
            if (w.control == "volume") {
                EXPECT_EQ(w.value, 5) << "'" << c.cap_vol << "' " << w.element;
            }
        }
        EXPECT_EQ((Mixer_State(env)[{"Mic", "switch", 0}]), 1) << "'" << c.cap_vol << "'";
        Dismiss_Error_Dialog();
        Close_PCM_Handle();
    }
}

TEST(SoundCapture, CaptureElementMissingOrWithoutSwitchFailsWithoutLibraryCode)
{
    const struct { const char *cap_src; const char *text; } cases[] = {
        {"Nothing", "Cannot find capture element: Nothing"},
        {"Line", "Device has no capture switch: Line"},
        {"Master", "Device has no capture switch: Master"},
    };
    for (const auto &c : cases) {
        Alsa_Test_Env env = Configure(c.cap_src, "--", 0, 50);
        std::string mesg;
        int error = -1;
        EXPECT_EQ(Run_Setup(&mesg, &error), 0);
        EXPECT_EQ(mesg, c.text);
        EXPECT_EQ(error, 0);
        EXPECT_TRUE(Read_Mixer_Log(env).empty());
        // Half-open: the caller's Cleanup closes both, as often as it runs.
        for (int i = 0; i < 2; i++) {
            Close_PCM_Handle();
            Close_Mixer_Handle();
            EXPECT_EQ(pcm_handle, nullptr);
        }
    }
}

TEST(SoundCapture, RateTheDeviceRefusesFailsAtTheRateStep)
{
    Alsa_Test_Env env = Configure("Mic", "Mic", 0, 50);
    Strlcpy(rc_data.snd_card, env.fixed_rate_device.c_str(), sizeof(rc_data.snd_card));
    std::string mesg;
    int error = 0;
    rc_data.dsp_rate = 8000;
    EXPECT_EQ(Run_Setup(&mesg, &error), 0);
    EXPECT_EQ(mesg, "Cannot set sample rate to 8000");
    EXPECT_LT(error, 0);
    Close_PCM_Handle();
    Close_Mixer_Handle();

    rc_data.dsp_rate = static_cast<int32_t>(FIXED_RATE_HZ);
    EXPECT_EQ(Run_Setup(&mesg, &error), 1) << mesg;
    EXPECT_EQ(mesg, "");
    Close_PCM_Handle();
}

TEST(SoundCapture, MissingDeviceFailsAtOpen)
{
    Configure("Mic", "Mic", 0, 50);
    Strlcpy(rc_data.snd_card, "velkadornone", sizeof(rc_data.snd_card));
    std::string mesg;
    int error = 0;
    EXPECT_EQ(Run_Setup(&mesg, &error), 0);
    EXPECT_EQ(mesg, "Cannot open audio device: velkadornone");
    EXPECT_LT(error, 0);
    EXPECT_EQ(pcm_handle, nullptr);
}

TEST(SoundCapture, PlaybackModeCapturesWithoutTouchingTheMixer)
{
    Alsa_Test_Env env = Configure("Nothing", "Nothing", 0, 50);
    rc_data.snd_mode = MODE_PLAYBACK;
    std::string mesg;
    int error = -1;
    EXPECT_EQ(Run_Setup(&mesg, &error), 1) << mesg;
    EXPECT_EQ(mesg, "");
    EXPECT_EQ(error, 0);
    ASSERT_NE(pcm_handle, nullptr);
    EXPECT_EQ(snd_pcm_stream(pcm_handle), SND_PCM_STREAM_CAPTURE);
    EXPECT_TRUE(Read_Mixer_Log(env).empty());
    Close_PCM_Handle();
    Close_PCM_Handle();
    Close_Mixer_Handle();
    EXPECT_EQ(pcm_handle, nullptr);
}
