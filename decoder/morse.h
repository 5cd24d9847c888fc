// decoder/morse.h - the Morse table and the character decoder's state machine.
// Owns the decoder state and the per-character speed statistics that
// Track_Speed reads and clears.
#ifndef VELKADOR_DECODER_MORSE_H
#define VELKADOR_DECODER_MORSE_H

#include <cstdint>

extern int32_t mark_frags, mark_units, space_frags, space_units;

// Decoder states; any other value behaves as STATE_INIT.
enum {
    STATE_INIT = 0,
    STATE_MARK = 1,
    STATE_MARK_END = 2,
    STATE_ELEM_SPACE = 4,
    STATE_CHAR_SPACE = 8,
    STATE_WORD_SPACE = 16,
    STATE_LONG_SPACE = 32,
    STATE_LONG_MARK = 64
};

// One detector step and one decoder step. Returns 0 when the detector step
// failed; otherwise 1, with any text (at most 4 bytes) copied into buf (5 bytes).
int Get_Character(char *buf);

// The decoder step alone: counts one fragment from MARK_TONE / SPACE_TONE as
// they stand and advances the state machine; text as for Get_Character.
void Decode_Fragment(char *buf);

// The table's text for an element code (a leading 1, then 1 per dot and 0
// per dash, first element highest); "*" for a code not in the table.
const char *Morse_Lookup(uint32_t code);

int32_t Decoder_State(void);

#endif
