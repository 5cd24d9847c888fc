// cat/serial.h - the one CAT serial link: open, lock, raw mode at the rig's
// speed, the rig's start-up exchange, and the write/read primitives that
// drop the link when they give up. Owns serial_fd and the saved settings.
#ifndef VELKADOR_CAT_SERIAL_H
#define VELKADOR_CAT_SERIAL_H

#include <cstddef>

int Open_Tcvr_Serial(void);
void Close_Tcvr_Serial(void);
int Write_Tcvr_Serial(const unsigned char *data, size_t len);
int Read_Tcvr_Serial(unsigned char *buf, size_t len);
void Abort_Tcvr_Serial(void);

// For the fatal-signal path: async-signal-safe (write, tcsetattr, close only).
// Sends the FT847's CAT-off when that rig is up, restores the port, closes it.
void Emergency_Close_Tcvr_Serial(void);

// The open port's descriptor, 0 when the port is closed.
int Tcvr_Serial_Fd(void);

#endif
