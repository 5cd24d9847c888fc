// One recording through both velkador-decode and the window (the file-backed
// capture device, Auto on): the same text, character for character. The
// sender slows down, so the unit moves into the range where the speed
// button's rounding sets it to another value than the tracker's step.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "support/process.h"
#include "ui/interface.h"

namespace {

// The tool breaks lines at word gaps and ends with a newline; the window
// shows the same gaps as blanks.
std::string As_One_Line(std::string text)
{
    for (char &c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string Rx_Text(void)
{
    return As_One_Line(Rx_View_Text());
}

}  // namespace

TEST(DecodeWindow, TheToolAndTheWindowGiveTheSameText)
{
    REQUIRE_DISPLAY();
    Alsa_Test_Env env = Make_Alsa_Test_Env(Make_Temp_Dir("decode-window") + "/audio.raw");
    ASSERT_EQ(mkdir((env.home + "/.velkador").c_str(), 0755), 0);
    Write_Text_File(env.home + "/.velkador/velkadorrc",
                    env.device + "\n48000\nFRONT_LEFT\nCapture\nCapture\n50\n40\n10\n20\n/dev/null\nNONE\n0\n700\n");

    // Noise and hand keying, so that decisions near the thresholds decide
    // the text too; silence at the end for the last word gap.
    Cw_Params p;
    p.wpm = 18;
    p.end_wpm = 13;
    p.tone_hz = 700;
    p.noise = true;
    p.snr_db = 10.0;
    p.jitter = 0.1;
    p.seed = 11;
    p.trail_ms = 3000.0;
    std::vector<int16_t> audio;
    std::string error;
    ASSERT_EQ(Cw_Generate(p,
                          "CQ CQ DE DL2ABC DL2ABC K DL2ABC DE G4XYZ GM OM TNX FER CALL UR RST 579 579 "
                          "NAME JOHN QTH LONDON HW? G4XYZ DE DL2ABC R FB JOHN 73 <SK>",
                          audio, error), 1) << error;
    Write_Raw_Samples(env.infile, audio);

    std::vector<std::string> penv = Current_Environment();
    Set_Env(penv, "DECODE_STDIN", env.infile);
    Process_Result tool = Run_Process({"/bin/bash", "-c", "exec \"$0\" --tone=700 --auto - < \"$DECODE_STDIN\"",
                                       VELKADOR_BINARY_DIR "/tools/velkador-decode"},
                                      penv, 60000);
    ASSERT_EQ(tool.exit_status, 0) << tool.err;
    const std::string expected = As_One_Line(tool.out);
    ASSERT_GT(expected.size(), 40u) << "the tool should decode most of it: " << tool.out;

    Build_Test_Window();
    ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
    g_idle_add(Load_Config, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return isFlagSet(RCCONFIG_OK | DETECTOR_READY); })) << Error_Dialog_Text();
    ASSERT_EQ(rc_data.tone_freq, 705);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "auto_checkbutton")), TRUE);
    GtkToggleButton *receive = GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "receive_togglebutton"));
    gtk_toggle_button_set_active(receive, TRUE);
    Iterate_Until([&] { return Rx_Text().size() >= expected.size(); }, 120000);
    EXPECT_EQ(Rx_Text(), expected);
    gtk_toggle_button_set_active(receive, FALSE);
}
