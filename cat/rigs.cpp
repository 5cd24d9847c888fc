// cat/rigs.cpp - the rigs' dialects. The FT847 and FT857 take 5-byte
// commands (four parameter bytes, then the opcode); the K2 and K3 take
// ASCII commands closed by ';', sent without a NUL.
#include "cat/rigs.h"

#include <cstdio>
#include <cstring>

#include "cat/hamlib.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"

const unsigned char FT847_CAT_OFF[BCD_CMD_LEN] = {0x00, 0x00, 0x00, 0x00, 0x80};

namespace {

const unsigned char FT847_CAT_ON[] = {0x00, 0x00, 0x00, 0x00, 0x00};
const unsigned char BCD_READ_FREQ[] = {0x00, 0x00, 0x00, 0x00, 0x03};
// Mode bytes: 0x83 narrow CW reverse on the FT847, 0x03 CW reverse on the FT857.
const unsigned char FT847_CW_REVERSE[] = {0x83, 0x00, 0x00, 0x00, 0x07};
const unsigned char FT857_CW_REVERSE[] = {0x03, 0x00, 0x00, 0x00, 0x07};
const unsigned char BCD_SET_FREQ_OP = 0x01;

const char FA_READ_FREQ[] = "FA;";
const char FA_CW_REVERSE[] = "MD7;";
const char K3_MODE_1[] = "K31;";
const char K3_READ_MODE[] = "K3;";

int Write_Text(const char *command)
{
    return Write_Tcvr_Serial(reinterpret_cast<const unsigned char *>(command), strlen(command));
}

int Write_Bytes(const unsigned char *command)
{
    return Write_Tcvr_Serial(command, BCD_CMD_LEN);
}

int Startup_FT847(void)
{
    unsigned char answer[BCD_CMD_LEN];
    return Write_Bytes(FT847_CAT_ON) && Write_Bytes(BCD_READ_FREQ) &&
           Read_Tcvr_Serial(answer, sizeof(answer)) && Write_Bytes(FT847_CW_REVERSE);
}

int Startup_FT857(void)
{
    unsigned char answer[BCD_CMD_LEN];
    return Write_Bytes(BCD_READ_FREQ) && Read_Tcvr_Serial(answer, sizeof(answer)) &&
           Write_Bytes(FT857_CW_REVERSE);
}

int Startup_K2(void)
{
    unsigned char answer[FA_CMD_LEN];
    return Write_Text(FA_READ_FREQ) && Read_Tcvr_Serial(answer, sizeof(answer)) &&
           Write_Text(FA_CW_REVERSE);
}

int Startup_K3(void)
{
    unsigned char answer[4];
    if (!Write_Text(K3_MODE_1) || !Write_Text(K3_READ_MODE) ||
        !Read_Tcvr_Serial(answer, sizeof(answer)))
        return 0;
    if (memcmp(answer, K3_MODE_1, sizeof(answer)) != 0) {
        Abort_Tcvr_Serial();
        return 0;
    }
    return Write_Text(FA_CW_REVERSE);
}

void Set_Receiver(int32_t tcvr_type, int enable_cat)
{
    rc_data.tcvr_type = tcvr_type;
    rc_data.snd_mode = tcvr_type == TCVR_PERSEUS ? MODE_PLAYBACK : MODE_CAPTURE;
    if (enable_cat)
        Set_Flag(ENABLE_CAT);
    else
        Clear_Flag(ENABLE_CAT);
}

}  // namespace

int Tcvr_Startup(void)
{
    int ok;
    const char *rig;
    switch (rc_data.tcvr_type) {
    case TCVR_FT847:
        ok = Startup_FT847();
        rig = "FT847";
        break;
    case TCVR_FT857:
        ok = Startup_FT857();
        rig = "FT857";
        break;
    case TCVR_K2:
        ok = Startup_K2();
        rig = "K2";
        break;
    case TCVR_K3:
        ok = Startup_K3();
        rig = "K3";
        break;
    default:
        return 1;
    }
    if (!ok)
        fprintf(stderr, "velkador: failed to enable %s CAT\n", rig);
    return ok;
}

void Tcvr_Closedown(void)
{
    if (rc_data.tcvr_type == TCVR_FT847)
        Write_Bytes(FT847_CAT_OFF);
}

int Build_Bcd_Freq_Command(int64_t freq_hz, unsigned char cmd[BCD_CMD_LEN])
{
    if (freq_hz < 0 || freq_hz > MAX_BCD_FREQ)
        return 0;
    // Units of 10 Hz as eight digits, two to a byte, high nibble first.
    int64_t tens = freq_hz / 10;
    for (int i = 3; i >= 0; i--) {
        int low = static_cast<int>(tens % 10);
        tens /= 10;
        int high = static_cast<int>(tens % 10);
        tens /= 10;
        cmd[i] = static_cast<unsigned char>((high << 4) | low);
    }
    cmd[4] = BCD_SET_FREQ_OP;
    return 1;
}

int Build_Fa_Freq_Command(int64_t freq_hz, unsigned char cmd[FA_CMD_LEN])
{
    if (freq_hz < 0 || freq_hz > MAX_FA_FREQ)
        return 0;
    char text[FA_CMD_LEN + 1];
    snprintf(text, sizeof(text), "FA%011lld;", static_cast<long long>(freq_hz));
    memcpy(cmd, text, FA_CMD_LEN);
    return 1;
}

int Decode_Bcd_Freq(const unsigned char ans[BCD_CMD_LEN], int64_t *freq_hz)
{
    int64_t tens = 0;
    for (int i = 0; i < 4; i++) {
        int high = ans[i] >> 4;
        int low = ans[i] & 0x0f;
        if (high > 9 || low > 9)
            return 0;
        tens = tens * 100 + high * 10 + low;
    }
    *freq_hz = tens * 10;
    return 1;
}

int Decode_Fa_Freq(const unsigned char ans[FA_CMD_LEN], int64_t *freq_hz)
{
    if (ans[0] != 'F' || ans[1] != 'A' || ans[FA_CMD_LEN - 1] != ';')
        return 0;
    int64_t hz = 0;
    for (size_t i = 2; i < FA_CMD_LEN - 1; i++) {
        if (ans[i] < '0' || ans[i] > '9')
            return 0;
        hz = hz * 10 + (ans[i] - '0');
    }
    *freq_hz = hz;
    return 1;
}

int Read_Tcvr_Freq(int64_t *freq_hz)
{
    unsigned char answer[FA_CMD_LEN];
    int decoded;
    switch (rc_data.tcvr_type) {
    case TCVR_K2:
    case TCVR_K3:
        if (!Write_Text(FA_READ_FREQ) || !Read_Tcvr_Serial(answer, FA_CMD_LEN))
            return 0;
        decoded = Decode_Fa_Freq(answer, freq_hz);
        break;
    case TCVR_FT847:
    case TCVR_FT857:
        if (!Write_Bytes(BCD_READ_FREQ) || !Read_Tcvr_Serial(answer, BCD_CMD_LEN))
            return 0;
        decoded = Decode_Bcd_Freq(answer, freq_hz);
        break;
    case TCVR_HAMLIB:
        return Hamlib_Read_Freq(freq_hz);
    default:
        return 0;
    }
    if (!decoded) {
        // A rig that answers with the right length but not a frequency is
        // out of step with us; retuning from it would send it anywhere.
        fprintf(stderr, "velkador: read(): the rig's frequency answer is not a number\n");
        Abort_Tcvr_Serial();
        return 0;
    }
    return 1;
}

void on_receiver_combobox_changed(GtkComboBox *combobox, gpointer)
{
    // Stopping reception closes the link under the old type, so that an
    // FT847 still gets its CAT-off.
    if (main_builder != nullptr) {
        GtkWidget *receive = Builder_Get_Object(main_builder, "receive_togglebutton");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(receive), FALSE);
    }

    if (combobox == nullptr && receiver_combobox != nullptr)
        combobox = GTK_COMBO_BOX(receiver_combobox);
    // An entry's id is its untranslated text, so "-- NONE --" is found in
    // any language; an entry without an id (an older UI file) by its text.
    const gchar *id = combobox != nullptr && gtk_combo_box_get_id_column(combobox) >= 0
                          ? gtk_combo_box_get_active_id(combobox)
                          : nullptr;
    gchar *text = combobox != nullptr && id == nullptr
                      ? gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combobox))
                      : nullptr;
    const gchar *name = id != nullptr ? id : text;

    static const struct {
        const char *name;
        int32_t tcvr_type;
    } receivers[] = {{"FT847", TCVR_FT847}, {"FT857", TCVR_FT857}, {"K2", TCVR_K2},
                     {"K3", TCVR_K3},       {"PERSEUS", TCVR_PERSEUS}, {"Hamlib", TCVR_HAMLIB},
                     {"-- NONE --", TCVR_NONE}};

    int32_t tcvr_type = rc_data.tcvr_type;
    if (name != nullptr) {
        for (const auto &receiver : receivers) {
            if (strcmp(name, receiver.name) == 0) {
                tcvr_type = receiver.tcvr_type;
                break;
            }
        }
    }
    Set_Receiver(tcvr_type, tcvr_type != TCVR_NONE);
    g_free(text);
}
