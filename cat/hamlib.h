// cat/hamlib.h - CAT through the Hamlib library: any rig Hamlib has a model
// for, on a serial port or behind a rigctld daemon, beside the built-in
// dialects. Owns the one Hamlib rig handle; only the serial link's open and
// close, the rigs' frequency read, frequency control and the loader call in.
#ifndef VELKADOR_CAT_HAMLIB_H
#define VELKADOR_CAT_HAMLIB_H

#include <cstdint>

// Hamlib's model for a rigctld daemon, and where rigctld listens by default:
// what the "Hamlib" receiver opens when the configuration names no model.
constexpr int32_t HAMLIB_NET_MODEL = 2;
constexpr const char *HAMLIB_NET_PATH = "localhost:4532";

// Every exchange waits at most this long for its answer, and is not
// repeated: a rig or daemon that has gone silent holds the window about as
// long as a silent built-in rig does.
constexpr int HAMLIB_TIMEOUT_MS = 500;
constexpr int HAMLIB_RETRIES = 0;

struct Hamlib_Target {
    int32_t model;
    int32_t baud;      // 0: the model's own line speed
    const char *path;  // serial device, or host:port
};

// The rig that the "Hamlib" receiver opens: the configuration's model, baud
// and CAT port when it names one, else rigctld at its default address.
Hamlib_Target Hamlib_Rig_Target(void);

// For the configuration loader: does Hamlib have this model, and does the
// model's serial port run at this baud.
int Hamlib_Model_Known(long model);
int Hamlib_Baud_Accepted(long model, long baud);

// Start-up: opens the rig, reads its frequency as proof of life and puts
// it into CW reverse (CW where it has none). CAT_SETUP is set while it runs
// and TCVR_SERIAL_OK when it passes; on failure it has reported, closed the
// rig and cleared both. Returns 1 when the rig is up.
int Hamlib_Open_Rig(void);
// Closes the rig and clears both bits when one is open; else does nothing.
void Hamlib_Close_Rig(void);

// 1 when the rig took the frequency. A frequency outside 0..999999999 Hz is
// refused with a line on standard error and nothing is sent; an exchange
// that fails drops the link, a command the rig turns down does not.
int Hamlib_Set_Freq(int64_t freq_hz);
// 1 with the rig's frequency in whole Hz. 0 when the exchange failed (link
// dropped), or when the rig stands outside 0..999999999 Hz (link kept).
int Hamlib_Read_Freq(int64_t *freq_hz);

#endif
