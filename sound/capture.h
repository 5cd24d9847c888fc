// sound/capture.h - opens the ALSA PCM device with its fixed hardware set-up,
// sets the mixer's capture switch and volume, and closes both again.
// Owns pcm_handle (read by the intake), hw_params and the mixer handle.
#ifndef VELKADOR_SOUND_CAPTURE_H
#define VELKADOR_SOUND_CAPTURE_H

#include <alsa/asoundlib.h>

extern snd_pcm_t *pcm_handle;

// 1 when the device is open, configured and prepared; 0 with the reason in
// mesg (128 bytes, empty on entry) and the library's code in *error.
int Setup_Sound_Card(char *mesg, int *error);
void Close_PCM_Handle(void);
void Close_Mixer_Handle(void);

#endif
