// sound/intake.cpp - placeholder until the sound input lands.
#include "sound/intake.h"

samples_buffer_t samples_buffer;

int Signal_Sample(int16_t *)
{
    return 0;
}
