// decoder/morse.cpp - placeholder until the decoder lands.
#include "decoder/morse.h"

int32_t mark_frags, mark_units, space_frags, space_units;

int Get_Character(char *)
{
    return 0;
}
