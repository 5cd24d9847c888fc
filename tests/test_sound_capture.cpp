// tests/test_sound_capture.cpp - device set-up and teardown against real ALSA:
// the file-backed capture PCM, the project's virtual mixer (which logs every
// write) and a PCM that runs at one rate only.
#include <gtest/gtest.h>

#include <cstring>
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
    std::string dir = Make_Temp_Dir("capture");
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

GtkWidget *Find_By_Id(GtkWidget *widget, const char *id)
{
    const char *name = gtk_buildable_get_name(GTK_BUILDABLE(widget));
    if (name != nullptr && strcmp(name, id) == 0)
        return widget;
    if (!GTK_IS_CONTAINER(widget))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget *found = nullptr;
    for (GList *c = children; c != nullptr && found == nullptr; c = c->next)
        found = Find_By_Id(GTK_WIDGET(c->data), id);
    g_list_free(children);
    return found;
}

// The open error dialog's message, or "" when none is shown.
std::string Dialog_Text(void)
{
    if (error_dialog == nullptr)
        return "";
    GtkWidget *label = Find_By_Id(error_dialog, "error_message");
    return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "?";
}

void Close_Dialog(void)
{
    if (error_dialog != nullptr)
        gtk_widget_destroy(error_dialog);
    Iterate_Pending();
}

} // namespace

TEST(SoundCapture, FullSetUpSwitchesTheChannelOnAndSetsTheLevel)
{
    // Range 0..31: the product is truncated, so 50 % gives 15.
    const struct { int channel; int level; long volume; } cases[] = {
        {1, 50, 15}, {0, 0, 0}, {1, 100, 31}, {0, 33, 10},
    };
    for (const auto &c : cases) {
        Alsa_Test_Env env = Configure("Mic", "Mic", c.channel, c.level);
        char mesg[128] = "";
        int error = -1;
        ASSERT_EQ(Setup_Sound_Card(mesg, &error), 1) << mesg;
        EXPECT_STREQ(mesg, "");
        EXPECT_EQ(error, 0);
        EXPECT_NE(pcm_handle, nullptr);

        auto state = Mixer_State(env);
        int other = 1 - c.channel;
        EXPECT_EQ((state[{"Mic", "switch", c.channel}]), 1) << "level " << c.level;
        EXPECT_EQ((state[{"Mic", "switch", other}]), 0);
        EXPECT_EQ((state[{"Mic", "volume", c.channel}]), c.volume) << "level " << c.level;
        EXPECT_EQ((state[{"Mic", "volume", other}]), 5) << "other channel keeps its level";
        Close_PCM_Handle();
    }
}
