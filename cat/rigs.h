// cat/rigs.h - the rigs' command sets: start-up and close-down exchanges,
// the frequency command encodings, and the receiver selector.
#ifndef VELKADOR_CAT_RIGS_H
#define VELKADOR_CAT_RIGS_H

#include <cstdint>

#include "ui/interface.h"

// Length of the FT847/FT857 commands and frequency answer.
constexpr size_t BCD_CMD_LEN = 5;
// Length of the K2/K3 set-frequency command and frequency answer.
constexpr size_t FA_CMD_LEN = 14;
// Eight BCD digits of 10 Hz.
constexpr int64_t MAX_BCD_FREQ = 999999999;
// Eleven decimal digits.
constexpr int64_t MAX_FA_FREQ = 99999999999LL;

// The FT847's CAT-off; also sent from the fatal-signal path.
extern const unsigned char FT847_CAT_OFF[BCD_CMD_LEN];

// Run with CAT_SETUP set; 1 when the rig answered as expected. On failure
// the link has been dropped.
int Tcvr_Startup(void);
// Run while TCVR_SERIAL_OK is set, before the port is closed.
void Tcvr_Closedown(void);

// Set-frequency commands; 0 (nothing built) when freq_hz is outside what
// the command can carry.
int Build_Bcd_Freq_Command(int64_t freq_hz, unsigned char cmd[BCD_CMD_LEN]);
int Build_Fa_Freq_Command(int64_t freq_hz, unsigned char cmd[FA_CMD_LEN]);

// Frequency answers; 0 when an answer's digits are not digits. Only the
// answer's own bytes are read.
int Decode_Bcd_Freq(const unsigned char ans[BCD_CMD_LEN], int64_t *freq_hz);
int Decode_Fa_Freq(const unsigned char ans[FA_CMD_LEN], int64_t *freq_hz);

// Asks the rig of rc_data.tcvr_type for its frequency. 0 when the exchange
// gave up or the answer was not a frequency: the link has then been dropped.
// (A Hamlib rig standing above 999999999 Hz also gives 0, link kept.)
int Read_Tcvr_Freq(int64_t *freq_hz);

VELKADOR_HANDLER void on_receiver_combobox_changed(GtkComboBox *, gpointer);

#endif
