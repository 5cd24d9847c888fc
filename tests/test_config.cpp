// The configuration loader against real files in a temporary HOME and the
// real main window (speed range, receiver selector, waterfall allocation).
#include <dirent.h>
#include <sys/stat.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/detector.h"
#include "sound/intake.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

const std::array<std::string, 13> BASE = {
    "velkadortest", "48000", "FRONT_LEFT", "Capture", "--", "50", "40", "10", "20",
    "/dev/null",    "NONE",  "0",          "800"};

std::string Join(const std::vector<std::string> &lines, const char *eol = "\n")
{
    std::string text;
    for (const auto &l : lines)
        text += l + eol;
    return text;
}

std::vector<std::string> Base_Lines(void)
{
    return std::vector<std::string>(BASE.begin(), BASE.end());
}

int Open_Fd_Count(void)
{
    int n = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr)
        n++;
    closedir(dir);
    return n;
}

class Config : public ::testing::Test {
protected:
    std::string home;

    void SetUp() override
    {
        REQUIRE_DISPLAY();
        home = Make_Temp_Dir("config");
        ASSERT_EQ(mkdir((home + "/.velkador").c_str(), 0755), 0);
        setenv("HOME", home.c_str(), 1);
        Build_Test_Window();
        ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
    }

    // Writes the file, runs the loader once, and reports the dialog's text.
    std::string Load(const std::string &text)
    {
        Write_Text_File(home + "/.velkador/velkadorrc", text);
        int fds = Open_Fd_Count();
        EXPECT_EQ(Load_Config(nullptr), FALSE);
        EXPECT_EQ(Open_Fd_Count(), fds) << "the file must be closed on every path";
        return Error_Dialog_Text();
    }
};

TEST_F(Config, LoadsAValidFileAndDerivesTheTiming)
{
    EXPECT_EQ(Load(Join(Base_Lines())), "");
    EXPECT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    EXPECT_TRUE(isFlagClear(ENABLE_CAT));
    EXPECT_STREQ(rc_data.snd_card, "velkadortest");
    EXPECT_EQ(rc_data.dsp_rate, 48000);
    EXPECT_EQ(rc_data.channel, 0);
    EXPECT_EQ(rc_data.use_chnl, 0);
    EXPECT_STREQ(rc_data.cap_src, "Capture");
    EXPECT_STREQ(rc_data.cap_vol, "--");
    EXPECT_EQ(rc_data.cap_level, 50);
    EXPECT_STREQ(rc_data.cat_serial, "/dev/null");
    EXPECT_EQ(rc_data.snd_mode, MODE_CAPTURE);
    EXPECT_EQ(rc_data.ifft_decimate, 15);
    EXPECT_EQ(rc_data.tone_freq, 800);
    EXPECT_EQ(rc_data.max_unit, 48);
    EXPECT_EQ(rc_data.max_unit_x2, 96);
    EXPECT_EQ(rc_data.min_unit, 12);
    EXPECT_EQ(rc_data.unit_elem, 24);

    double lo, hi;
    gtk_spin_button_get_range(GTK_SPIN_BUTTON(speed), &lo, &hi);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 40);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(speed)), 20);
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(receiver_combobox)), 0);

    EXPECT_EQ(samples_buffer.index, 1024);
    EXPECT_EQ(samples_buffer.length, 1024);
    ASSERT_NE(samples_buffer.data, nullptr);
    for (int i = 0; i < 1024; i++)
        ASSERT_EQ(samples_buffer.data[i], 0);

    GtkAllocation alloc;
    gtk_widget_get_allocation(scope, &alloc);
    EXPECT_EQ(scope_width, alloc.width - 2);
    EXPECT_EQ(scope_height, alloc.height - 2);
}

TEST_F(Config, CommentsBlankIndentedLinesAndCrLfChangeNothing)
{
    std::string text = "# velkadorrc\r\n\r\n";
    for (const auto &value : BASE)
        text += "# the next value\r\n   indented remark\r\n\t\r\n\r\n" + value + "\r\n";
    EXPECT_EQ(Load(text), "");
    EXPECT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    EXPECT_STREQ(rc_data.snd_card, "velkadortest");
    EXPECT_STREQ(rc_data.cat_serial, "/dev/null");
    EXPECT_EQ(rc_data.tone_freq, 800);
    EXPECT_EQ(rc_data.unit_elem, 24);
}

TEST_F(Config, LastValueNeedsNoLineEndAndCrAloneEndsLines)
{
    std::string text = Join(Base_Lines(), "\r");
    text.pop_back();
    EXPECT_EQ(Load(text), "");
    EXPECT_TRUE(isFlagSet(RCCONFIG_OK));
    EXPECT_EQ(rc_data.tone_freq, 800);
}

struct Timing_Case {
    const char *rate;
    const char *tone;
    int decimate, tone_freq, max_unit, min_unit, unit;
};

TEST_F(Config, TimingFollowsTheWaterfallsMiddleColumn)
{
    // (Each case loads once per process; the first one is checked here, the
    // others in their own processes below.)
    auto lines = Base_Lines();
    lines[12] = "700";
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_EQ(rc_data.ifft_decimate, 17);
    EXPECT_EQ(rc_data.tone_freq, 705);
    EXPECT_EQ(rc_data.max_unit, 42);
    EXPECT_EQ(rc_data.min_unit, 10);
    EXPECT_EQ(rc_data.unit_elem, 21);
}

TEST_F(Config, TimingAt44100Hz)
{
    auto lines = Base_Lines();
    lines[1] = "44100";
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_EQ(rc_data.ifft_decimate, 13);
    EXPECT_EQ(rc_data.tone_freq, 848);
}

// Found by fuzzing: at the highest rate with a high tone the detector's ring
// size passed 2^31 on the way to its value and came out negative.
TEST_F(Config, HighestRateWithAHighToneStillGetsADetector)
{
    auto lines = Base_Lines();
    lines[1] = "1536000";
    lines[12] = "20000";
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
}

TEST_F(Config, NumbersStopAtTheirFirstForeignCharacterAndTextIsCut)
{
    auto lines = Base_Lines();
    lines[1] = "48000 Hz, the card's native rate";
    lines[0] = std::string(40, 'c');
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_EQ(rc_data.dsp_rate, 48000);
    EXPECT_EQ(std::string(rc_data.snd_card), std::string(31, 'c'));
}

TEST_F(Config, ValueLinesOfEightyCharactersPassAndEightyOneFail)
{
    auto lines = Base_Lines();
    lines[3] = std::string(80, 'x');
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_TRUE(isFlagSet(RCCONFIG_OK));
}

TEST_F(Config, AnOverlongLineNamesItsValue)
{
    auto lines = Base_Lines();
    lines[3] = std::string(81, 'x');
    testing::internal::CaptureStderr();
    EXPECT_EQ(Load(Join(lines)), "Error reading Capture Source\nLine longer than 80 characters");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "velkador: Error reading Capture Source\nLine longer than 80 characters\n" +
                       std::string(80, 'x') + "\n");
    EXPECT_TRUE(isFlagClear(RCCONFIG_OK | DETECTOR_READY));
}

TEST_F(Config, AFileEndingAfterNineValuesNamesTheTenth)
{
    auto lines = Base_Lines();
    lines.resize(9);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Load(Join(lines)), "Error reading CAT Serial Port\nPremature EOF (End Of File)");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "velkador: Error reading CAT Serial Port\nPremature EOF (End Of File)\n");
    EXPECT_TRUE(isFlagClear(RCCONFIG_OK | DETECTOR_READY));
}

const char *const INITIAL = "Initial Morse code speed (WPM)\nis out of specified range\nQuit and correct velkadorrc";

TEST_F(Config, AnIndentedValueIsACommentAndShiftsTheRest)
{
    auto lines = Base_Lines();
    lines[3] = " Capture";
    // Capture Source now reads "--", ..., Maximum WPM "10", Minimum WPM
    // "20" and Initial WPM "/dev/null", which reads as 0.
    EXPECT_EQ(Load(Join(lines)), INITIAL);
    EXPECT_STREQ(rc_data.cap_src, "--");
}

TEST_F(Config, AMissingFileSaysWhereTheExampleIs)
{
    EXPECT_EQ(Load_Config(nullptr), FALSE);
    EXPECT_NE(Error_Dialog_Text().find("Failed to open .velkador/velkadorrc file."), std::string::npos);
    EXPECT_TRUE(isFlagClear(RCCONFIG_OK | DETECTOR_READY));
}

struct Check_Case {
    int line;
    const char *value;
    const char *dialog;  // "" when the file must load
};

// Readable names for the parameterised cases: letters and digits only.
std::string Case_Name(std::string text)
{
    std::string name;
    for (char c : text) {
        if (isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (c == '-')
            name += "minus";
        else if (c == '.')
            name += "dot";
        else
            name += '_';
    }
    return name.empty() ? "empty" : name;
}

const char *const SPEED_RANGE = "Morse code speed (WPM)\nrange is out of limits\nQuit and correct velkadorrc";
const char *const CHANNEL = "Invalid ALSA channel name\nQuit and correct velkadorrc";
const char *const TCVR = "Error reading Transceiver type\nQuit and correct velkadorrc";
const char *const CORRECTION = "Error reading Frequency Correction Factor\nFrequency Correction Factor seems excessive\nQuit and correct velkadorrc";
const char *const TONE = "Error reading BFO Tone Freq\nQuit and correct velkadorrc";
const char *const RATE = "Error reading DSP Rate\nDSP Rate must be at least four times the Input Tone\nQuit and correct velkadorrc";
const char *const RATE_HIGH = "Error reading DSP Rate\nDSP Rate must not be above 1536000\nQuit and correct velkadorrc";

void PrintTo(const Check_Case &c, std::ostream *os)
{
    *os << "line " << c.line + 1 << " '" << c.value << "'";
}

class Config_Checks : public Config, public ::testing::WithParamInterface<Check_Case> {};

TEST_P(Config_Checks, BoundaryOfEveryValueCheck)
{
    const Check_Case &c = GetParam();
    auto lines = Base_Lines();
    lines[c.line] = c.value;
    EXPECT_EQ(Load(Join(lines)), c.dialog) << "line " << c.line << " = '" << c.value << "'";
    EXPECT_EQ(isFlagSet(RCCONFIG_OK | DETECTOR_READY), c.dialog[0] == '\0');
}

INSTANTIATE_TEST_SUITE_P(Values, Config_Checks, ::testing::Values(
    Check_Case{6, "60", ""}, Check_Case{6, "61", SPEED_RANGE},
    Check_Case{7, "6", ""}, Check_Case{7, "5", SPEED_RANGE},
    Check_Case{7, "30", INITIAL},  // the initial 20 now lies below the minimum
    Check_Case{8, "41", INITIAL}, Check_Case{8, "9", INITIAL},
    Check_Case{8, "40", ""}, Check_Case{8, "10", ""},
    Check_Case{12, "199", TONE}, Check_Case{12, "200", ""},
    Check_Case{11, "100", ""}, Check_Case{11, "-100", ""}, Check_Case{11, "100.5", CORRECTION},
    Check_Case{11, "-100.5", CORRECTION},
    Check_Case{2, "MONO", ""}, Check_Case{2, "SIDE_RIGHT", ""},
    Check_Case{2, "MONO ", CHANNEL}, Check_Case{2, "front_left", CHANNEL},
    Check_Case{2, "FRONT-LEFT", CHANNEL}, Check_Case{2, "LEFT", CHANNEL},
    Check_Case{10, "-- NONE --", TCVR}, Check_Case{10, "k2", TCVR}, Check_Case{10, "PERSEUS", TCVR},
    Check_Case{1, "3199", RATE}, Check_Case{1, "3200", ""}, Check_Case{1, "0", RATE},
    Check_Case{1, "-48000", RATE}, Check_Case{1, "1536000", ""}, Check_Case{1, "1536001", RATE_HIGH},
    Check_Case{1, "2147483647", RATE_HIGH}),
    [](const auto &info) {
        return "line" + std::to_string(info.param.line + 1) + "_" + Case_Name(info.param.value) +
               (info.param.dialog[0] == '\0' ? "_loads" : "_fails");
    });

const char *const HAMLIB_SYNTAX = "Error reading Transceiver type\nHAMLIB needs a model number\n(and may have a baud rate)\nQuit and correct velkadorrc";

// Value 11 as a Hamlib model, with and without a baud rate; the loader asks
// Hamlib whether it knows the model and whether the model takes the rate.
INSTANTIATE_TEST_SUITE_P(Hamlib, Config_Checks, ::testing::Values(
    Check_Case{10, "HAMLIB 2", ""}, Check_Case{10, "HAMLIB 3073 19200", ""},
    Check_Case{10, "HAMLIB\t1 ", ""},
    Check_Case{10, "HAMLIB", HAMLIB_SYNTAX}, Check_Case{10, "HAMLIB x", HAMLIB_SYNTAX},
    Check_Case{10, "HAMLIB 2x", HAMLIB_SYNTAX}, Check_Case{10, "HAMLIB 3073 19200 8", HAMLIB_SYNTAX},
    Check_Case{10, "HAMLIB 999999", "Error reading Transceiver type\nHamlib has no model 999999\nQuit and correct velkadorrc"},
    Check_Case{10, "HAMLIB 3073 12345", "Error reading Transceiver type\nHamlib model 3073 does not take 12345 baud\nQuit and correct velkadorrc"},
    Check_Case{10, "HAMLIB 2 9600", "Error reading Transceiver type\nHamlib model 2 does not take 9600 baud\nQuit and correct velkadorrc"},
    Check_Case{10, "hamlib 2", TCVR}, Check_Case{10, "HAMLIB2", TCVR}),
    [](const auto &info) {
        return "line11_" + Case_Name(info.param.value) + (info.param.dialog[0] == '\0' ? "_loads" : "_fails");
    });

TEST_F(Config, HamlibLinesNameModelBaudAndTheSelectorsHamlibEntry)
{
    const struct {
        const char *line;
        int model, baud;
    } cases[] = {{"HAMLIB 3073 19200", 3073, 19200}, {"HAMLIB 2", 2, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        auto lines = Base_Lines();
        lines[9] = "localhost:4532";
        lines[10] = c.line;
        EXPECT_EQ(Load(Join(lines)), "");
        EXPECT_EQ(rc_data.tcvr_type, TCVR_HAMLIB);
        EXPECT_EQ(rc_data.hamlib_model, c.model);
        EXPECT_EQ(rc_data.hamlib_baud, c.baud);
        EXPECT_EQ(rc_data.snd_mode, MODE_CAPTURE);
        EXPECT_TRUE(isFlagSet(ENABLE_CAT));
        EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(receiver_combobox)), 6);
    }
    // A built-in rig after a Hamlib one leaves no Hamlib model behind.
    EXPECT_EQ(Load(Join(Base_Lines())), "");
    EXPECT_EQ(rc_data.hamlib_model, 0);
}

TEST_F(Config, ReversedSpeedLimitsPassTheRangeCheckButNoInitialSpeedFits)
{
    auto lines = Base_Lines();
    lines[6] = "20";  // maximum
    lines[7] = "30";  // minimum
    lines[8] = "25";
    EXPECT_EQ(Load(Join(lines)), INITIAL);

    // A minimum far above any speed reaches the speed button's range first.
    lines[7] = "2000000000";
    EXPECT_EQ(Load(Join(lines)), INITIAL);
}

struct Channel_Case {
    const char *name;
    int channel, use_chnl;
};

void PrintTo(const Channel_Case &c, std::ostream *os)
{
    *os << c.name;
}

class Config_Channels : public Config, public ::testing::WithParamInterface<Channel_Case> {};

TEST_P(Config_Channels, NamesMapToMixerChannelAndFrameSide)
{
    auto lines = Base_Lines();
    lines[2] = GetParam().name;
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_EQ(rc_data.channel, GetParam().channel);
    EXPECT_EQ(rc_data.use_chnl, GetParam().use_chnl);
}

INSTANTIATE_TEST_SUITE_P(Table, Config_Channels, ::testing::Values(
    Channel_Case{"FRONT_LEFT", 0, 0}, Channel_Case{"FRONT_RIGHT", 1, 1},
    Channel_Case{"REAR_LEFT", 2, 0}, Channel_Case{"REAR_RIGHT", 3, 1},
    Channel_Case{"SIDE_LEFT", 6, 0}, Channel_Case{"SIDE_RIGHT", 7, 1},
    Channel_Case{"MONO", 0, 0}),
    [](const auto &info) { return Case_Name(info.param.name); });

struct Tcvr_Case {
    const char *name;
    int type, position;
};

void PrintTo(const Tcvr_Case &c, std::ostream *os)
{
    *os << c.name;
}

class Config_Transceivers : public Config, public ::testing::WithParamInterface<Tcvr_Case> {};

TEST_P(Config_Transceivers, NamesSelectTypeSelectorAndCat)
{
    auto lines = Base_Lines();
    lines[10] = GetParam().name;
    EXPECT_EQ(Load(Join(lines)), "");
    EXPECT_EQ(rc_data.tcvr_type, GetParam().type);
    EXPECT_EQ(rc_data.snd_mode, MODE_CAPTURE);
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(receiver_combobox)), GetParam().position);
    EXPECT_EQ(isFlagSet(ENABLE_CAT), GetParam().type != TCVR_NONE);
}

INSTANTIATE_TEST_SUITE_P(Table, Config_Transceivers, ::testing::Values(
    Tcvr_Case{"FT847", TCVR_FT847, 1}, Tcvr_Case{"FT857", TCVR_FT857, 2},
    Tcvr_Case{"K2", TCVR_K2, 3}, Tcvr_Case{"K3", TCVR_K3, 4}, Tcvr_Case{"NONE", TCVR_NONE, 0}),
    [](const auto &info) { return Case_Name(info.param.name); });

TEST_F(Config, AWaterfallThatCannotBeConfiguredLeavesReceptionImpossible)
{
    gtk_widget_set_size_request(waterfall, 500, -1);
    ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) == 500; }));
    Dismiss_Error_Dialog();  // the configure event has already complained
    EXPECT_EQ(Load(Join(Base_Lines())), "FFT size is not a power of 2");
    EXPECT_TRUE(isFlagClear(RCCONFIG_OK | DETECTOR_READY));
    EXPECT_EQ(rc_data.ifft_decimate, 0);
}

// Random damage to a valid file: the loader never crashes or overruns, closes
// the file exactly once, and either loads completely or reports and stops.
TEST_F(Config, SurvivesRandomlyDamagedFiles)
{
    const char *env_seed = getenv("VELKADOR_FUZZ_SEED");
    // A fixed seed, so that a run's verdict can be reproduced; the fuzzers
    // explore further.
    const unsigned seed = env_seed != nullptr ? static_cast<unsigned>(atoi(env_seed)) : 20261210u;
    SCOPED_TRACE("VELKADOR_FUZZ_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::string valid = Join(Base_Lines());
    const std::string alphabet = "#\t \r\n0123456789-.abcXYZ_;\xc3\x84";

    for (int round = 0; round < 400; round++) {
        std::string text = valid;
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !text.empty(); e++) {
            size_t pos = rng() % text.size();
            switch (rng() % 4) {
            case 0: text[pos] = alphabet[rng() % alphabet.size()]; break;
            case 1: text.insert(pos, std::string(1 + rng() % 120, alphabet[rng() % alphabet.size()])); break;
            case 2: text.erase(pos, 1 + rng() % 20); break;
            default: text.resize(pos); break;
            }
        }
        Dismiss_Error_Dialog();
        Clear_Flag(RCCONFIG_OK | DETECTOR_READY);
        std::string dialog = Load(text);
        ASSERT_TRUE(dialog.empty() == isFlagSet(RCCONFIG_OK))
            << "round " << round << " dialog '" << dialog << "'";
        if (isFlagSet(RCCONFIG_OK)) {
            ASSERT_GE(rc_data.ifft_decimate, 1);
            ASSERT_GE(rc_data.unit_elem, rc_data.min_unit);
            ASSERT_LE(rc_data.unit_elem, rc_data.max_unit);
        }
    }
}

}  // namespace
