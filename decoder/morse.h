// decoder/morse.h - the Morse table and the character decoder's state machine.
// Owns the decoder state and the per-character speed statistics that
// Track_Speed reads and clears.
#ifndef VELKADOR_DECODER_MORSE_H
#define VELKADOR_DECODER_MORSE_H

#include <cstdint>

extern int32_t mark_frags, mark_units, space_frags, space_units;

// One detector step and one decoder step. Returns 0 when the detector step
// failed; otherwise 1, with any text (at most 4 bytes) copied into buf (5 bytes).
int Get_Character(char *buf);

#endif
