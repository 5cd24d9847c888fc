// tests/support/alsa_env.cpp - a private ALSA configuration per test: a
// temporary HOME whose .asoundrc defines the test devices.
#include "support/alsa_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ios>
#include <sstream>

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include "core/shared.h"
#include "sound/capture.h"
#include "support/gtk_env.h"

namespace {

const char *const TEST_DEVICE = "velkadortest";

// ALSA config strings are double-quoted; test paths never hold quotes.
std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

std::string Asoundrc_Text(const Alsa_Test_Env &env)
{
    std::ostringstream rc;
    rc << "pcm." << env.device << " {\n"
       << "  type file\n"
       << "  slave.pcm \"null\"\n"
       << "  file \"/dev/null\"\n"
       << "  infile " << Quoted(env.infile) << "\n"
       << "  format \"raw\"\n"
       << "}\n";
#ifdef VELKADOR_TEST_MIXER_PLUGIN
    rc << "ctl_type.velkadortest {\n"
       << "  lib " << Quoted(VELKADOR_TEST_MIXER_PLUGIN) << "\n"
       << "}\n"
       << "ctl." << env.device << " {\n"
       << "  type velkadortest\n"
       << "  log " << Quoted(env.mixer_log) << "\n"
       << "}\n";
#endif
#ifdef VELKADOR_TEST_PCM_PLUGIN
    rc << "pcm_type.velkadortest {\n"
       << "  lib " << Quoted(VELKADOR_TEST_PCM_PLUGIN) << "\n"
       << "}\n"
       << "pcm." << env.fixed_rate_device << " {\n"
       << "  type velkadortest\n"
       << "  rate " << FIXED_RATE_HZ << "\n"
       << "}\n"
       << "ctl." << env.fixed_rate_device << " {\n"
       << "  type velkadortest\n"
       << "  log " << Quoted(env.mixer_log) << "\n"
       << "}\n";
#endif
    return rc.str();
}

std::vector<std::string> scratch_dirs;

void Remove_Scratch_Dirs(void)
{
    for (const std::string &dir : scratch_dirs) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

} // namespace

std::string Make_Scratch_Dir(const char *tag)
{
    std::string dir = Make_Temp_Dir(tag);
    if (scratch_dirs.empty())
        atexit(Remove_Scratch_Dirs);
    if (!dir.empty())
        scratch_dirs.push_back(dir);
    return dir;
}

Alsa_Test_Env Make_Alsa_Test_Env(const std::string &infile)
{
    Alsa_Test_Env env;
    env.home = Make_Scratch_Dir("alsa");
    env.device = TEST_DEVICE;
    env.fixed_rate_device = std::string(TEST_DEVICE) + "fixed";
    env.infile = infile;
    env.mixer_log = env.home + "/mixer.log";
    Write_Text_File(env.home + "/.asoundrc", Asoundrc_Text(env));
    Write_Text_File(env.mixer_log, "");
    EXPECT_EQ(setenv("HOME", env.home.c_str(), 1), 0);
    EXPECT_EQ(snd_config_update_free_global(), 0);
    return env;
}

void Add_Generated_Capture(const Alsa_Test_Env &env, const std::string &name,
                           const std::string &fault, long fault_after)
{
#ifdef VELKADOR_TEST_PCM_PLUGIN
    std::ofstream rc(env.home + "/.asoundrc", std::ios::app);
    rc << "pcm." << name << " {\n"
       << "  type velkadortest\n"
       << "  rate " << FIXED_RATE_HZ << "\n"
       << "  fault " << Quoted(fault) << "\n"
       << "  fault_after " << fault_after << "\n"
       << "}\n";
    rc.close();
    EXPECT_TRUE(rc.good());
    EXPECT_EQ(snd_config_update_free_global(), 0);
#else
    ADD_FAILURE() << "test PCM plug-in not built; cannot add " << name << " (" << fault << ", "
                  << fault_after << ") to " << env.home;
#endif
}

void Write_Raw_Samples(const std::string &path, const std::vector<int16_t> &values)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int16_t v : values) {
        uint16_t u = static_cast<uint16_t>(v);
        char bytes[2] = {static_cast<char>(u & 0xff), static_cast<char>(u >> 8)};
        out.write(bytes, 2);
    }
    EXPECT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<Mixer_Write> Read_Mixer_Log(const Alsa_Test_Env &env)
{
    std::vector<Mixer_Write> writes;
    std::ifstream in(env.mixer_log);
    std::string line;
    while (std::getline(in, line)) {
        // The element name may hold blanks; the last three fields never do.
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string w; fields >> w;)
            words.push_back(w);
        if (words.size() < 4)
            continue;
        Mixer_Write w;
        size_t n = words.size();
        for (size_t i = 0; i + 3 < n; i++)
            w.element += (i > 0 ? " " : "") + words[i];
        w.control = words[n - 3];
        w.channel = std::atoi(words[n - 2].c_str());
        w.value = std::atol(words[n - 1].c_str());
        writes.push_back(w);
    }
    return writes;
}

void Open_Silent_Capture(void)
{
    std::string dir = Make_Temp_Dir("capture");
    Write_Raw_Samples(dir + "/in.raw", std::vector<int16_t>(4096, 0));
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/in.raw");
    Strlcpy(rc_data.snd_card, env.device.c_str(), sizeof(rc_data.snd_card));
    rc_data.snd_mode = MODE_PLAYBACK;
    rc_data.dsp_rate = 8000;
    char mesg[128] = "";
    int error = 0;
    ASSERT_EQ(Setup_Sound_Card(mesg, &error), 1) << mesg << " " << snd_strerror(error);
    ASSERT_NE(pcm_handle, nullptr);
}
