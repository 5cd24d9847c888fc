// The rigs' dialects: start-up and close-down bytes, rejected start-ups,
// the frequency encodings, and the receiver selector.
#include <cstring>

#include <gtest/gtest.h>

#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/receive.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"

namespace {

class RigCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        ASSERT_NE(Build_Test_Window(), nullptr);
        Iterate_Pending();
    }
};

std::string Hex_Text(const char *text)
{
    return Hex_Bytes(Text_Bytes(text));
}

// Everything the rig has received from what the program wrote so far.
std::string Received_Hex(Rig_Sim &sim)
{
    EXPECT_TRUE(sim.Sync());
    return Hex_Bytes(sim.Received());
}

}  // namespace

TEST_F(RigCommands, StartUpAndCloseDownSendExactlyTheRigsCommands)
{
    const struct {
        int tcvr_type;
        std::string startup;
        std::string closedown;
    } cases[] = {
        {TCVR_FT847, "00 00 00 00 00 00 00 00 00 03 83 00 00 00 07", "00 00 00 00 80"},
        {TCVR_FT857, "00 00 00 00 03 03 00 00 00 07", ""},
        {TCVR_K2, Hex_Text("FA;MD7;"), ""},
        {TCVR_K3, Hex_Text("K31;K3;MD7;"), ""},
        {TCVR_PERSEUS, "", ""},
    };
    for (const auto &c : cases) {
        Rig_Sim sim(c.tcvr_type, 7030000);
        Point_Cat_At(sim, c.tcvr_type);
        // Every start of reception runs the whole start-up again.
        for (int round = 0; round < 2; round++) {
            SCOPED_TRACE(std::to_string(c.tcvr_type) + " round " + std::to_string(round));
            sim.Clear_Received();
            ASSERT_EQ(Open_Tcvr_Serial(), 1);
            EXPECT_EQ(Received_Hex(sim), c.startup);
            sim.Clear_Received();
            Close_Tcvr_Serial();
            EXPECT_EQ(Received_Hex(sim), c.closedown);
        }
    }
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(RigCommands, RigThatDoesNotAnswerFailsItsStartUp)
{
    const struct {
        int tcvr_type;
        const char *line;
        std::string sent;
    } cases[] = {
        {TCVR_FT847, "velkador: failed to enable FT847 CAT\n", "00 00 00 00 00 00 00 00 00 03"},
        {TCVR_FT857, "velkador: failed to enable FT857 CAT\n", "00 00 00 00 03"},
        {TCVR_K2, "velkador: failed to enable K2 CAT\n", Hex_Text("FA;")},
        {TCVR_K3, "velkador: failed to enable K3 CAT\n", Hex_Text("K31;K3;")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        Dismiss_Error_Dialog();
        Rig_Sim sim(c.tcvr_type, 7030000);
        Point_Cat_At(sim, c.tcvr_type);
        sim.Set_Fault(Rig_Fault::NO_ANSWER);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Open_Tcvr_Serial(), 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("after 10 tries\n"), std::string::npos) << err;
        EXPECT_EQ(err.substr(err.size() - strlen(c.line)), c.line) << err;
        EXPECT_EQ(Received_Hex(sim), c.sent);
        EXPECT_EQ(Error_Dialog_Text(), "Failed to Establish Transceiver CAT");
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
        EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    }
}

TEST_F(RigCommands, K3ThatStaysInAnotherCommandModeIsDropped)
{
    Rig_Sim sim(TCVR_K3, 7030000);
    Point_Cat_At(sim, TCVR_K3);
    sim.Set_Fault(Rig_Fault::WRONG_K3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Open_Tcvr_Serial(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "velkador: failed to enable K3 CAT\n");
    EXPECT_EQ(Received_Hex(sim), Hex_Text("K31;K3;"));
    EXPECT_EQ(Error_Dialog_Text(), "Failed to Establish Transceiver CAT");
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
}

TEST(RigFrequencyCodes, SetCommandsCarryTheFrequency)
{
    const struct {
        int64_t hz;
        const char *fa;
        const char *bcd;
    } cases[] = {
        {14060000, "FA00014060000;", "01 40 60 00 01"},
        {7030125, "FA00007030125;", "00 70 30 12 01"},
        {144050000, "FA00144050000;", "14 40 50 00 01"},
        {999999999, "FA00999999999;", "99 99 99 99 01"},
        {0, "FA00000000000;", "00 00 00 00 01"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hz);
        unsigned char fa[FA_CMD_LEN], bcd[BCD_CMD_LEN];
        ASSERT_EQ(Build_Fa_Freq_Command(c.hz, fa), 1);
        EXPECT_EQ(std::string(fa, fa + FA_CMD_LEN), c.fa);
        ASSERT_EQ(Build_Bcd_Freq_Command(c.hz, bcd), 1);
        EXPECT_EQ(Hex_Bytes(std::vector<uint8_t>(bcd, bcd + BCD_CMD_LEN)), c.bcd);

        int64_t back = -1;
        ASSERT_EQ(Decode_Fa_Freq(fa, &back), 1);
        EXPECT_EQ(back, c.hz);
        ASSERT_EQ(Decode_Bcd_Freq(bcd, &back), 1);
        EXPECT_EQ(back, c.hz / 10 * 10);  // 10 Hz resolution
    }

    unsigned char cmd[FA_CMD_LEN];
    EXPECT_EQ(Build_Bcd_Freq_Command(-1, cmd), 0);
    EXPECT_EQ(Build_Bcd_Freq_Command(1000000000, cmd), 0);
    EXPECT_EQ(Build_Fa_Freq_Command(-1, cmd), 0);
    EXPECT_EQ(Build_Fa_Freq_Command(100000000000LL, cmd), 0);
    ASSERT_EQ(Build_Fa_Freq_Command(99999999999LL, cmd), 1);
    EXPECT_EQ(std::string(cmd, cmd + FA_CMD_LEN), "FA99999999999;");
}

TEST(RigFrequencyCodes, AnswersThatAreNoFrequencyAreRejected)
{
    int64_t hz = 42;
    // Eleven digits beyond 32 bits are read whole.
    EXPECT_EQ(Decode_Fa_Freq(reinterpret_cast<const unsigned char *>("FA12345678901;"), &hz), 1);
    EXPECT_EQ(hz, 12345678901LL);
    // Digits past the 14 bytes are never read: the answer needs its ';'.
    const char *bad_fa[] = {"FA000140600001234", "FA0001406x000;", "FB00014060000;",
                            "FA -0014060000;", "K3000140600000;"};
    for (const char *text : bad_fa) {
        hz = 42;
        EXPECT_EQ(Decode_Fa_Freq(reinterpret_cast<const unsigned char *>(text), &hz), 0) << text;
        EXPECT_EQ(hz, 42);
    }
    const unsigned char bad_bcd[][BCD_CMD_LEN] = {
        {0x01, 0x4a, 0x60, 0x00, 0x83}, {0xa1, 0x40, 0x60, 0x00, 0x83}, {0x01, 0x40, 0x60, 0x0f, 0x00}};
    for (const auto &answer : bad_bcd)
        EXPECT_EQ(Decode_Bcd_Freq(answer, &hz), 0);
    const unsigned char good_bcd[BCD_CMD_LEN] = {0x00, 0x70, 0x30, 0x12, 0xff};
    ASSERT_EQ(Decode_Bcd_Freq(good_bcd, &hz), 1);
    EXPECT_EQ(hz, 7030120);
}

TEST_F(RigCommands, SelectorSetsTypeSoundModeAndCat)
{
    GtkComboBox *combo = GTK_COMBO_BOX(receiver_combobox);
    const struct {
        int position;
        int tcvr_type;
        int snd_mode;
        bool cat;
    } cases[] = {{1, TCVR_FT847, MODE_CAPTURE, true}, {2, TCVR_FT857, MODE_CAPTURE, true},
                 {3, TCVR_K2, MODE_CAPTURE, true},    {4, TCVR_K3, MODE_CAPTURE, true},
                 {5, TCVR_PERSEUS, MODE_PLAYBACK, true}, {0, TCVR_NONE, MODE_CAPTURE, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.position);
        gtk_combo_box_set_active(combo, c.position);
        EXPECT_EQ(rc_data.tcvr_type, c.tcvr_type);
        EXPECT_EQ(rc_data.snd_mode, c.snd_mode);
        EXPECT_EQ(isFlagSet(ENABLE_CAT), c.cat);
    }

    // An entry of another name keeps the type and makes the rest agree with it.
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(receiver_combobox), "FT-817");
    int other = gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr) - 1;
    const int kept[] = {TCVR_PERSEUS, TCVR_NONE, TCVR_K2};
    for (int tcvr_type : kept) {
        SCOPED_TRACE(tcvr_type);
        gtk_combo_box_set_active(combo, 0);
        rc_data.tcvr_type = tcvr_type;
        rc_data.snd_mode = 0;
        Set_Flag(ENABLE_CAT);
        gtk_combo_box_set_active(combo, other);
        EXPECT_EQ(rc_data.tcvr_type, tcvr_type);
        EXPECT_EQ(rc_data.snd_mode, tcvr_type == TCVR_PERSEUS ? MODE_PLAYBACK : MODE_CAPTURE);
        EXPECT_EQ(isFlagSet(ENABLE_CAT), tcvr_type != TCVR_NONE);
    }
}

// Reception is up with an FT847; choosing another receiver stops it through
// the Receive button and closes the link before the type changes.
TEST_F(RigCommands, SelectorStopsReceptionAndClosesUnderTheOldType)
{
    const struct {
        int position;
        int tcvr_type;
    } choices[] = {{0, TCVR_NONE}, {3, TCVR_K2}};
    for (const auto &choice : choices) {
        SCOPED_TRACE(choice.position);
        GtkComboBox *combo = GTK_COMBO_BOX(receiver_combobox);
        gtk_combo_box_set_active(combo, 1);
        ASSERT_EQ(rc_data.tcvr_type, TCVR_FT847);

        Rig_Sim sim(TCVR_FT847, 7030000);
        Point_Cat_At(sim, TCVR_FT847);
        Set_Flag(DETECTOR_READY);
        ASSERT_EQ(Open_Tcvr_Serial(), 1);
        GtkWidget *receive = Builder_Get_Object(main_builder, "receive_togglebutton");
        g_signal_handlers_block_by_func(receive, reinterpret_cast<gpointer>(on_receive_togglebutton_toggled), nullptr);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(receive), TRUE);
        g_signal_handlers_unblock_by_func(receive, reinterpret_cast<gpointer>(on_receive_togglebutton_toggled), nullptr);
        ASSERT_TRUE(sim.Sync());
        sim.Clear_Received();

        gtk_combo_box_set_active(combo, choice.position);
        EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(receive)));
        EXPECT_EQ(Received_Hex(sim), "00 00 00 00 80");
        EXPECT_EQ(Tcvr_Serial_Fd(), 0);
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK));
        EXPECT_EQ(rc_data.tcvr_type, choice.tcvr_type);
        // The new rig is not started until reception starts again.
        EXPECT_EQ(Received_Hex(sim), "00 00 00 00 80");
        Clear_Flag(DETECTOR_READY);
    }
}
