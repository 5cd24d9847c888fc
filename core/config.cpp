// core/config.cpp - the configuration loader: thirteen positional values,
// checked, stored in rc_data and the controls, then the timing derivation
// that ties the detector's tone to the waterfall's middle column.
#include "core/config.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cat/hamlib.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/detector.h"
#include "display/fft.h"
#include "display/waterfall.h"
#include "sound/intake.h"
#include "ui/interface.h"

namespace {

constexpr int CR = '\r';
constexpr int LF = '\n';
constexpr size_t MESG_LEN = 128;
// Twice the highest rate sound cards offer; the detector's buffer sizes and
// the unit derivation stay within 32 bits up to here.
constexpr int32_t MAX_DSP_RATE = 1536000;

struct Channel_Name {
    std::string_view name;
    int32_t channel;   // simple-mixer channel id
    int32_t use_chnl;  // position in the stereo frame
};

constexpr std::array<Channel_Name, 7> CHANNELS = {{
    {"FRONT_LEFT", 0, 0},
    {"FRONT_RIGHT", 1, 1},
    {"REAR_LEFT", 2, 0},
    {"REAR_RIGHT", 3, 1},
    {"SIDE_LEFT", 6, 0},
    {"SIDE_RIGHT", 7, 1},
    {"MONO", 0, 0},
}};

struct Tcvr_Name {
    std::string_view name;
    int32_t type;
    int position;  // entry of the receiver selector
};

constexpr std::array<Tcvr_Name, 5> TRANSCEIVERS = {{
    {"FT847", TCVR_FT847, 1},
    {"FT857", TCVR_FT857, 2},
    {"K2", TCVR_K2, 3},
    {"K3", TCVR_K3, 4},
    {"NONE", TCVR_NONE, 0},
}};

// "HAMLIB <model>" or "HAMLIB <model> <baud>"; the receiver selector's
// "Hamlib" entry comes after PERSEUS.
constexpr Tcvr_Name HAMLIB_TCVR = {"HAMLIB", TCVR_HAMLIB, 6};
constexpr size_t HAMLIB_WORD_LEN = 6;
// Longer numbers than this are no model or rate Hamlib knows.
constexpr size_t HAMLIB_NUMBER_MAX = 9;

bool Is_Hamlib_Line(const char *line)
{
    return strncmp(line, HAMLIB_TCVR.name.data(), HAMLIB_WORD_LEN) == 0 &&
           (line[HAMLIB_WORD_LEN] == '\0' || line[HAMLIB_WORD_LEN] == ' ' ||
            line[HAMLIB_WORD_LEN] == '\t');
}

// The model and baud of a HAMLIB line into rc_data; 0 with the dialog's
// text in mesg when the line is malformed or Hamlib refuses what it names.
int Read_Hamlib_Type(const char *line, char *mesg, size_t mesg_len)
{
    char words[2][HAMLIB_NUMBER_MAX + 2] = {"", ""};
    long numbers[2] = {0, 0};
    int count = 0;
    const char *p = line + HAMLIB_WORD_LEN;
    for (;;) {
        const char *gap = p;
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '\0')
            break;
        if (p == gap || count == 2 || !isdigit(static_cast<unsigned char>(*p)))
            count = -1;
        if (count < 0)
            break;
        size_t digits = 0;
        while (isdigit(static_cast<unsigned char>(*p))) {
            if (digits < HAMLIB_NUMBER_MAX)
                numbers[count] = numbers[count] * 10 + (*p - '0');
            if (digits <= HAMLIB_NUMBER_MAX)
                words[count][digits] = *p;
            digits++;
            p++;
        }
        if (digits > HAMLIB_NUMBER_MAX)
            numbers[count] = -1;
        count++;
    }

    if (count <= 0) {
        snprintf(mesg, mesg_len, "%s", _("Error reading Transceiver type\n"
                                         "HAMLIB needs a model number\n"
                                         "(and may have a baud rate)\n"
                                         "Quit and correct velkadorrc"));
        return 0;
    }
    if (!Hamlib_Model_Known(numbers[0])) {
        snprintf(mesg, mesg_len, _("Error reading Transceiver type\nHamlib has no model %s\n"
                                   "Quit and correct velkadorrc"),
                 words[0]);
        return 0;
    }
    if (count == 2 && !Hamlib_Baud_Accepted(numbers[0], numbers[1])) {
        snprintf(mesg, mesg_len, _("Error reading Transceiver type\nHamlib model %s does not take %s baud\n"
                                   "Quit and correct velkadorrc"),
                 words[0], words[1]);
        return 0;
    }
    rc_data.hamlib_model = static_cast<int32_t>(numbers[0]);
    rc_data.hamlib_baud = count == 2 ? static_cast<int32_t>(numbers[1]) : 0;
    return 1;
}

bool Skips_Line(int c)
{
    return c == '#' || c == ' ' || c == '\t' || c == CR || c == LF;
}

// Closes the file and shows a loader message; the load stops there.
void Config_Error(FILE *fp, const char *mesg)
{
    fclose(fp);
    Error_Dialog(mesg);
}

}  // namespace

int Read_Config_Line(char *buf, FILE *fp, const char *name)
{
    char mesg[MESG_LEN];
    snprintf(mesg, sizeof(mesg), _("Error reading %s\nPremature EOF (End Of File)"), name);
    buf[0] = '\0';

    int c = fgetc(fp);
    if (c == EOF)
        goto premature_eof;

    // Comments, blank and indented lines: skip to the line end, then past
    // every CR and LF, and test the next line's first character again.
    while (Skips_Line(c)) {
        while (c != CR && c != LF) {
            c = fgetc(fp);
            if (c == EOF)
                goto premature_eof;
        }
        while (c == CR || c == LF) {
            c = fgetc(fp);
            if (c == EOF)
                goto premature_eof;
        }
    }

    for (int len = 0;;) {
        if (c == CR || c == LF) {
            buf[len] = '\0';
            return 0;
        }
        if (len == CONFIG_LINE_MAX) {
            buf[len] = '\0';
            snprintf(mesg, sizeof(mesg), _("Error reading %s\nLine longer than 80 characters"), name);
            fprintf(stderr, "velkador: %s\n%s\n", mesg, buf);
            fclose(fp);
            Error_Dialog(mesg);
            return 1;
        }
        buf[len++] = static_cast<char>(c);
        c = fgetc(fp);
        if (c == EOF) {
            buf[len] = '\0';
            return 0;
        }
    }

premature_eof:
    fprintf(stderr, "velkador: %s\n", mesg);
    fclose(fp);
    Error_Dialog(mesg);
    return -1;
}

int Derive_Timing(int ifft_length, int wfall_width, int min_wpm, int max_wpm)
{
    const int d = wfall_width > 0 ? (2 * ifft_length) / wfall_width : 0;
    if (d != 0) {
        const int32_t decimate = (rc_data.dsp_rate / rc_data.tone_freq) / d;
        if (decimate < 1)
            return 0;
        rc_data.ifft_decimate = decimate;
        rc_data.tone_freq = (rc_data.dsp_rate / decimate) / d;
    }
    const int c = rc_data.tone_freq * 60;
    rc_data.max_unit = c / (min_wpm * 100);
    rc_data.max_unit_x2 = 2 * rc_data.max_unit;
    rc_data.min_unit = c / (max_wpm * 100);
    return 1;
}

gboolean Load_Config(gpointer)
{
    char rc_path[PATH_BUF_LEN];
    const char *home = Home_Directory();
    snprintf(rc_path, sizeof(rc_path), "%s/.velkador/velkadorrc", home != nullptr ? home : "");

    FILE *fp = fopen(rc_path, "r");
    if (fp == nullptr) {
        perror(rc_path);
        Error_Dialog(_("Failed to open .velkador/velkadorrc file.\n"
                       "Quit velkador and correct.\n"
                       "(You may need to copy the file:\n"
                       "/usr/local/share/examples/velkador/velkadorrc.example\n"
                       "to your <home-directory>/.velkador/velkadorrc and edit.)"));
        return FALSE;
    }

    char line[CONFIG_LINE_MAX + 1];

    if (Read_Config_Line(line, fp, _("Card Name")) != 0)
        return FALSE;
    Strlcpy(rc_data.snd_card, line, sizeof(rc_data.snd_card));

    if (Read_Config_Line(line, fp, _("DSP Rate")) != 0)
        return FALSE;
    rc_data.dsp_rate = atoi(line);

    if (Read_Config_Line(line, fp, _("ALSA Channel")) != 0)
        return FALSE;
    const Channel_Name *channel = nullptr;
    for (const auto &entry : CHANNELS)
        if (entry.name == line)
            channel = &entry;
    if (channel == nullptr) {
        Config_Error(fp, _("Invalid ALSA channel name\nQuit and correct velkadorrc"));
        return FALSE;
    }
    rc_data.channel = channel->channel;
    rc_data.use_chnl = channel->use_chnl;

    if (Read_Config_Line(line, fp, _("Capture Source")) != 0)
        return FALSE;
    Strlcpy(rc_data.cap_src, line, sizeof(rc_data.cap_src));

    if (Read_Config_Line(line, fp, _("Capture Volume Control")) != 0)
        return FALSE;
    Strlcpy(rc_data.cap_vol, line, sizeof(rc_data.cap_vol));

    if (Read_Config_Line(line, fp, _("Capture Volume")) != 0)
        return FALSE;
    rc_data.cap_level = atoi(line);

    // Until the derivation below, min_unit holds Maximum WPM and max_unit Minimum WPM.
    if (Read_Config_Line(line, fp, _("Maximum WPM")) != 0)
        return FALSE;
    rc_data.min_unit = atoi(line);

    if (Read_Config_Line(line, fp, _("Minimum WPM")) != 0)
        return FALSE;
    rc_data.max_unit = atoi(line);
    const int max_wpm = rc_data.min_unit;
    const int min_wpm = rc_data.max_unit;
    if (min_wpm < MIN_WPM_LIMIT || max_wpm > MAX_WPM_LIMIT) {
        Config_Error(fp, _("Morse code speed (WPM)\nrange is out of limits\nQuit and correct velkadorrc"));
        return FALSE;
    }
    if (speed != nullptr)
        gtk_spin_button_set_range(GTK_SPIN_BUTTON(speed), min_wpm, max_wpm);

    if (Read_Config_Line(line, fp, _("Initial WPM")) != 0)
        return FALSE;
    const int initial_wpm = atoi(line);
    if (initial_wpm > max_wpm || initial_wpm < min_wpm) {
        Config_Error(fp, _("Initial Morse code speed (WPM)\nis out of specified range\n"
                           "Quit and correct velkadorrc"));
        return FALSE;
    }

    if (Read_Config_Line(line, fp, _("CAT Serial Port")) != 0)
        return FALSE;
    Strlcpy(rc_data.cat_serial, line, sizeof(rc_data.cat_serial));

    if (Read_Config_Line(line, fp, _("Transceiver type for CAT")) != 0)
        return FALSE;
    const Tcvr_Name *tcvr = nullptr;
    for (const auto &entry : TRANSCEIVERS)
        if (entry.name == line)
            tcvr = &entry;
    rc_data.hamlib_model = 0;
    rc_data.hamlib_baud = 0;
    if (tcvr == nullptr && Is_Hamlib_Line(line)) {
        char mesg[MESG_LEN];
        if (!Read_Hamlib_Type(line, mesg, sizeof(mesg))) {
            rc_data.tcvr_type = TCVR_NONE;
            Config_Error(fp, mesg);
            return FALSE;
        }
        tcvr = &HAMLIB_TCVR;
    }
    if (tcvr == nullptr) {
        rc_data.tcvr_type = TCVR_NONE;
        Config_Error(fp, _("Error reading Transceiver type\nQuit and correct velkadorrc"));
        return FALSE;
    }
    rc_data.tcvr_type = tcvr->type;
    if (receiver_combobox != nullptr)
        gtk_combo_box_set_active(GTK_COMBO_BOX(receiver_combobox), tcvr->position);
    rc_data.snd_mode = rc_data.tcvr_type == TCVR_PERSEUS ? MODE_PLAYBACK : MODE_CAPTURE;

    // Read and checked, but applied to no frequency (parts per million).
    // The file's decimal point is '.' whatever the operator's locale: atof
    // would read "100.5" as 100 under a German LC_NUMERIC and accept it.
    if (Read_Config_Line(line, fp, _("Frequency Correction Factor")) != 0)
        return FALSE;
    if (fabs(g_ascii_strtod(line, nullptr)) > 100.0) {
        Config_Error(fp, _("Error reading Frequency Correction Factor\n"
                           "Frequency Correction Factor seems excessive\n"
                           "Quit and correct velkadorrc"));
        return FALSE;
    }

    if (Read_Config_Line(line, fp, _("Input Tone")) != 0)
        return FALSE;
    rc_data.tone_freq = atoi(line);
    if (rc_data.tone_freq < MIN_INPUT_TONE) {
        Config_Error(fp, _("Error reading BFO Tone Freq\nQuit and correct velkadorrc"));
        return FALSE;
    }

    if (rc_data.dsp_rate > MAX_DSP_RATE) {
        Config_Error(fp, _("Error reading DSP Rate\n"
                           "DSP Rate must not be above 1536000\n"
                           "Quit and correct velkadorrc"));
        return FALSE;
    }

    // The waterfall spans 0 to twice the tone at a quarter of its input rate:
    // a rate below four times the tone leaves no whole decimation factor.
    if (rc_data.dsp_rate / rc_data.tone_freq < 4) {
        Config_Error(fp, _("Error reading DSP Rate\n"
                           "DSP Rate must be at least four times the Input Tone\n"
                           "Quit and correct velkadorrc"));
        return FALSE;
    }

    GtkAllocation alloc = {0, 0, 0, 0};
    if (waterfall != nullptr)
        gtk_widget_get_allocation(waterfall, &alloc);
    if (Waterfall_Configure_Event(alloc.width, alloc.height) != 1) {
        // The waterfall has said why; without it the timing cannot be derived.
        fclose(fp);
        return FALSE;
    }

    if (!Derive_Timing(ifft_data_length, wfall_width, min_wpm, max_wpm)) {
        Config_Error(fp, _("Error reading DSP Rate\n"
                           "DSP Rate must be at least four times the Input Tone\n"
                           "Quit and correct velkadorrc"));
        return FALSE;
    }

    if (scope != nullptr) {
        gtk_widget_get_allocation(scope, &alloc);
        scope_width = alloc.width - 2;
        scope_height = alloc.height - 2;
    }

    if (speed != nullptr)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), initial_wpm);
    rc_data.unit_elem = (rc_data.tone_freq * 60) / (initial_wpm * 100);

    if (rc_data.tcvr_type != TCVR_NONE)
        Set_Flag(ENABLE_CAT);
    else
        Clear_Flag(ENABLE_CAT);

    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    if (mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t))) {
        Set_Flag(RCCONFIG_OK);
        if (Initialize_Detector())
            Set_Flag(DETECTOR_READY);
    }

    fclose(fp);
    return FALSE;
}
