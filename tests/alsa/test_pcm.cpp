// tests/alsa/test_pcm.cpp - a capture PCM for the tests that runs at one
// sample rate only, loaded by alsa-lib as an external PCM plug-in. It takes
// any other hardware set-up the program asks for; it never delivers data.
//
// Config:  pcm.NAME { type velkadortest; rate 48000 }
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <cstring>

namespace {

int Pcm_Start(snd_pcm_ioplug_t *)
{
    return 0;
}

int Pcm_Stop(snd_pcm_ioplug_t *)
{
    return 0;
}

snd_pcm_sframes_t Pcm_Pointer(snd_pcm_ioplug_t *)
{
    return 0;
}

int Pcm_Close(snd_pcm_ioplug_t *io)
{
    delete io;
    return 0;
}

snd_pcm_ioplug_callback_t Pcm_Callbacks(void)
{
    snd_pcm_ioplug_callback_t cb;
    memset(&cb, 0, sizeof(cb));
    cb.start = Pcm_Start;
    cb.stop = Pcm_Stop;
    cb.pointer = Pcm_Pointer;
    cb.close = Pcm_Close;
    return cb;
}

const snd_pcm_ioplug_callback_t PCM_CALLBACKS = Pcm_Callbacks();

int Set_Constraints(snd_pcm_ioplug_t *io, unsigned int rate)
{
    const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE};
    int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_RATE, 1, &rate);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128, 1 << 24);
    return err;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(velkadortest)
{
    (void)root;
    long rate = 48000;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t *node = snd_config_iterator_entry(i);
        const char *key = nullptr;
        if (snd_config_get_id(node, &key) < 0)
            continue;
        if (strcmp(key, "comment") == 0 || strcmp(key, "type") == 0 || strcmp(key, "hint") == 0)
            continue;
        if (strcmp(key, "rate") == 0) {
            if (snd_config_get_integer(node, &rate) < 0 || rate <= 0) {
                SNDERR("rate must be a positive integer");
                return -EINVAL;
            }
            continue;
        }
        SNDERR("Unknown field %s", key);
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_CAPTURE)
        return -EINVAL;

    snd_pcm_ioplug_t *io = new snd_pcm_ioplug_t{};
    io->version = SND_PCM_IOPLUG_VERSION;
    io->name = "velkador fixed-rate test capture";
    io->poll_fd = -1;
    io->poll_events = POLLIN;
    io->callback = &PCM_CALLBACKS;

    int err = snd_pcm_ioplug_create(io, name, stream, mode);
    if (err < 0) {
        delete io;
        return err;
    }
    err = Set_Constraints(io, static_cast<unsigned int>(rate));
    if (err < 0) {
        snd_pcm_ioplug_delete(io);
        return err;
    }
    *pcmp = io->pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(velkadortest);

} // extern "C"
