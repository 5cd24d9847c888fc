// sound/capture.cpp - placeholder until the sound input lands.
#include "sound/capture.h"

snd_pcm_t *pcm_handle = nullptr;

int Setup_Sound_Card(char *, int *error)
{
    *error = 0;
    return 0;
}

void Close_PCM_Handle(void) {}
void Close_Mixer_Handle(void) {}
