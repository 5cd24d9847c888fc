// tests/test_sound_intake.cpp - the sample intake reading real ALSA capture
// devices: the file plug-in over the null slave fed from a raw file, and the
// project's generated capture, which can overrun, suspend or disappear.
//
// The link wraps the waterfall's intake (see tests/sound.cmake): the wrapper
// records every sample passed on and then calls the real IFFT_Data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/shared.h"
#include "sound/capture.h"
#include "sound/intake.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

std::vector<int16_t> waterfall_samples;

// Value v of block b of the raw file: distinct across blocks and channels.
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

// Opens `device` for the intake as the receive control does (the playback
// mode: no mixer) and makes the sample buffer as the configuration loader does.
void Open_Device(const std::string &device, int dsp_rate, int use_chnl)
{
    Strlcpy(rc_data.snd_card, device.c_str(), sizeof(rc_data.snd_card));
    rc_data.snd_mode = MODE_PLAYBACK;
    rc_data.dsp_rate = dsp_rate;
    rc_data.use_chnl = use_chnl;
    char mesg[128] = "";
    int error = 0;
    ASSERT_EQ(Setup_Sound_Card(mesg, &error), 1) << mesg << " " << snd_strerror(error);
    ASSERT_EQ(mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)), 1);
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    waterfall_samples.clear();
}

Alsa_Test_Env Open_File_Device(const std::vector<int16_t> &values, int use_chnl)
{
    std::string dir = Make_Scratch_Dir("intake");
    Write_Raw_Samples(dir + "/in.raw", values);
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/in.raw");
    Open_Device(env.device, 8000, use_chnl);
    return env;
}

// A generated capture that falls into `fault` after one block.
Alsa_Test_Env Open_Faulty_Device(const char *fault)
{
    Alsa_Test_Env env = Make_Alsa_Test_Env("/dev/null");
    Add_Generated_Capture(env, "velkadorfault", fault, SAMPLES_BLOCK_FRAMES);
    Open_Device("velkadorfault", FIXED_RATE_HZ, 0);
    return env;
}

// Takes one block's worth of samples; false at the first 0 return.
bool Take_Block(std::vector<int16_t> *out)
{
    for (int i = 0; i < SAMPLES_BLOCK_FRAMES; i++) {
        int16_t s = 0;
        if (Signal_Sample(&s) != 1)
            return false;
        out->push_back(s);
    }
    return true;
}

// Values expected from the generated capture's left channel: n counts values.
std::vector<int16_t> Generated_Left(int first_frame, int frames)
{
    std::vector<int16_t> values;
    for (int f = first_frame; f < first_frame + frames; f++)
        values.push_back(static_cast<int16_t>(2 * f));
    return values;
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

} // namespace

extern "C" void __real__Z9IFFT_Datas(int16_t sample);
extern "C" void __wrap__Z9IFFT_Datas(int16_t sample)
{
    waterfall_samples.push_back(sample);
    __real__Z9IFFT_Datas(sample);
}

TEST(SoundIntake, HandsOutOneChannelBlockByBlockAndPassesItOn)
{
    for (int chnl = 0; chnl < 2; chnl++) {
        Open_File_Device(Blocks(3), chnl);
        std::vector<int16_t> got;
        for (int b = 0; b < 3; b++) {
            ASSERT_TRUE(Take_Block(&got));
            // The first call of each block reads it: the 513th moved on.
            EXPECT_EQ(samples_buffer.index, SAMPLES_BUFFER_LEN + chnl);
        }
        std::vector<int16_t> want;
        for (int b = 0; b < 3; b++)
            for (int i = 0; i < SAMPLES_BLOCK_FRAMES; i++)
                want.push_back(Pattern(b, 2 * i + chnl));
        EXPECT_EQ(got, want) << "channel " << chnl;
        EXPECT_EQ(waterfall_samples, want) << "channel " << chnl;
        Close_PCM_Handle();
    }
}

TEST(SoundIntake, ShortReadKeepsThePreviousTailAndReportsOnce)
{
    // The capture overruns 300 frames into the second block: that read ends
    // short, the next one fails and is recovered.
    Alsa_Test_Env env = Make_Alsa_Test_Env("/dev/null");
    Add_Generated_Capture(env, "velkadorshort", "xrun", SAMPLES_BLOCK_FRAMES + 300);
    Open_Device("velkadorshort", FIXED_RATE_HZ, 1);

    std::vector<int16_t> got;
    ASSERT_TRUE(Take_Block(&got));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Take_Block(&got));
    std::string err = testing::internal::GetCapturedStderr();

    std::vector<int16_t> want;
    for (int f = 0; f < SAMPLES_BLOCK_FRAMES; f++)
        want.push_back(static_cast<int16_t>(2 * f + 1));
    for (int f = 0; f < SAMPLES_BLOCK_FRAMES; f++)
        want.push_back(static_cast<int16_t>(2 * (f < 300 ? SAMPLES_BLOCK_FRAMES + f : f) + 1));
    EXPECT_EQ(got, want);
    EXPECT_EQ(Count(err, "Read from audio interface failed\nError: "), 1u) << err;
}

TEST(SoundIntake, ClearedOverrunOrSuspendHandsOutThePreviousBlockAgain)
{
    for (const char *fault : {"xrun", "suspend"}) {
        Open_Faulty_Device(fault);
        std::vector<int16_t> got;
        ASSERT_TRUE(Take_Block(&got));
        testing::internal::CaptureStderr();
        ASSERT_TRUE(Take_Block(&got)) << fault;
        ASSERT_TRUE(Take_Block(&got)) << fault;
        std::string err = testing::internal::GetCapturedStderr();

        std::vector<int16_t> want = Generated_Left(0, 512);
        want.insert(want.end(), want.begin(), want.end());
        std::vector<int16_t> next = Generated_Left(512, 512);
        want.insert(want.end(), next.begin(), next.end());
        EXPECT_EQ(got, want) << fault;
        EXPECT_EQ(Count(err, "Read from audio interface failed\nError: "), 1u) << fault << ": " << err;
        EXPECT_NE(pcm_handle, nullptr);
        Close_PCM_Handle();
    }
}

TEST(SoundIntake, FailedRecoveryStopsWithTheLibraryText)
{
    REQUIRE_DISPLAY();
    Build_Test_Window();
    Open_Faulty_Device("stuck");
    std::vector<int16_t> got;
    ASSERT_TRUE(Take_Block(&got));
    testing::internal::CaptureStderr();
    int16_t s = 1234;
    EXPECT_EQ(Signal_Sample(&s), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(s, 1234) << "nothing is stored on failure";
    EXPECT_EQ(Error_Dialog_Text(), std::string("Cannot recover from underrun, prepare failed\nError: ") +
                                  snd_strerror(-EIO) + "\n");
    EXPECT_EQ(pcm_handle, nullptr);
}

TEST(SoundIntake, DeviceThatIsGoneStopsTheIntakeOnce)
{
    REQUIRE_DISPLAY();
    Build_Test_Window();
    struct { const char *how; int error; } cases[] = {{"unplugged", -ENODEV}, {"dropped", -EBADFD}};
    for (const auto &c : cases) {
        std::vector<int16_t> got;
        if (strcmp(c.how, "unplugged") == 0) {
            Open_Faulty_Device("gone");
            ASSERT_TRUE(Take_Block(&got));
        } else {
            Open_File_Device(Blocks(3), 0);
            ASSERT_TRUE(Take_Block(&got));
            ASSERT_EQ(snd_pcm_drop(pcm_handle), 0);
        }
        testing::internal::CaptureStderr();
        bool ok = Take_Block(&got);
        int16_t s = 0;
        int again = Signal_Sample(&s);
        std::string err = testing::internal::GetCapturedStderr();

        std::string text = std::string("Read from audio interface failed\nError: ") + snd_strerror(c.error) + "\n";
        EXPECT_FALSE(ok) << c.how;
        EXPECT_EQ(again, 0) << c.how << ": asking again reads nothing";
        EXPECT_EQ(pcm_handle, nullptr) << c.how;
        EXPECT_EQ(Count(err, "Read from audio interface failed"), 1u) << c.how << ": " << err;
        EXPECT_EQ(Count(err, text), 1u) << c.how << ": " << err;
        EXPECT_EQ(Error_Dialog_Text(), text) << c.how;
        Dismiss_Error_Dialog();
    }
}
