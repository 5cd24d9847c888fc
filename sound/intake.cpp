// sound/intake.cpp - hands out one channel of the captured audio, one sample
// per call, reading the device in blocks of 512 stereo frames. Every sample
// handed out also goes to the waterfall's intake, so both see the same audio.
// The blocks come from the capture device, or from a recording while one is
// open (velkador-decode).
#include "sound/intake.h"

#include <cerrno>
#include <cstdio>

#include "core/shared.h"
#include "core/startup.h"
#include "display/waterfall.h"
#include "sound/capture.h"
#include "sound/recording.h"
#include "ui/interface.h"

samples_buffer_t samples_buffer;

namespace {

constexpr size_t MESG_LEN = 128;

// Codes after which the handle cannot deliver again: the device was unplugged
// or the handle was torn down under us. Re-reading would only spin.
bool Device_Is_Gone(long result)
{
    return result == -ENODEV || result == -ENXIO || result == -EBADFD || result == -ENOTTY;
}

// Shows why reception stops, closes everything and tells the caller to stop.
int Stop_Intake(const char *mesg)
{
    Error_Dialog(mesg);
    Cleanup();
    return 0;
}

// Brings an overrun or suspended device back to the prepared state; a
// device that cannot resume is restarted by the prepare as well.
// 1 when reading may go on.
int Recover_Device(long result)
{
    if (result == -ESTRPIPE)
        snd_pcm_resume(pcm_handle);
    int ret = snd_pcm_prepare(pcm_handle);
    if (ret < 0) {
        char mesg[MESG_LEN];
        snprintf(mesg, sizeof(mesg), _("Cannot recover from underrun, prepare failed\nError: %s\n"),
                 snd_strerror(ret));
        return Stop_Intake(mesg);
    }
    return 1;
}

// Reads the next block. Whatever the read leaves unfilled keeps the previous
// block's values, so a short or failed read still yields a full block.
// 1 when the intake can go on; otherwise the block stays used up.
int Read_Block(void)
{
    // A recording stands in for the device; its end ends the intake.
    if (Recording_Is_Open()) {
        if (!Read_Recording_Block(samples_buffer.data, SAMPLES_BLOCK_FRAMES))
            return 0;
        samples_buffer.index = rc_data.use_chnl;
        return 1;
    }
    if (pcm_handle == nullptr)
        return 0;

    snd_pcm_sframes_t got = snd_pcm_readi(pcm_handle, samples_buffer.data, SAMPLES_BLOCK_FRAMES);
    if (got != SAMPLES_BLOCK_FRAMES) {
        char mesg[MESG_LEN];
        snprintf(mesg, sizeof(mesg), _("Read from audio interface failed\nError: %s\n"),
                 snd_strerror(static_cast<int>(got)));
        fputs(mesg, stderr);

        if ((got == -EPIPE || got == -ESTRPIPE) && !Recover_Device(got))
            return 0;
        if (Device_Is_Gone(got))
            return Stop_Intake(mesg);
    }
    samples_buffer.index = rc_data.use_chnl;
    return 1;
}

} // namespace

int Signal_Sample(int16_t *sample)
{
    if (samples_buffer.index >= samples_buffer.length && !Read_Block())
        return 0;

    int16_t value = samples_buffer.data[samples_buffer.index];
    *sample = value;
    IFFT_Data(value);
    samples_buffer.index += 2;
    return 1;
}
