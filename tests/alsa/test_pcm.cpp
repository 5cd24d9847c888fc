// tests/alsa/test_pcm.cpp - a capture PCM for the tests, loaded by alsa-lib as
// an external PCM plug-in. It runs at one sample rate only, delivers a known
// sequence (the n-th 16-bit value captured is n modulo 65536, as a signed
// value), never blocks, and can fall into one fault after a number of frames:
//   xrun      the stream overruns; prepare clears it
//   stuck     the stream overruns and prepare fails from then on
//   suspend   the stream is suspended; resume or prepare clears it
//   gone      the device is disconnected for good
//
// Config:  pcm.NAME { type velkadortest; rate 48000; fault "xrun"; fault_after 1024 }
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

enum Fault { FAULT_NONE, FAULT_XRUN, FAULT_STUCK, FAULT_SUSPEND, FAULT_GONE };

struct Test_Pcm {
    snd_pcm_ioplug_t io;
    Fault fault;
    uint64_t fault_after;     // frames delivered before the fault
    uint64_t delivered;       // frames handed to the reader so far
    uint16_t next_value;      // the sequence value of the next sample
    bool broken;              // the fault has happened
};

Test_Pcm *Pcm_Of(snd_pcm_ioplug_t *io)
{
    return static_cast<Test_Pcm *>(io->private_data);
}

int Pcm_Start(snd_pcm_ioplug_t *)
{
    return 0;
}

int Pcm_Stop(snd_pcm_ioplug_t *)
{
    return 0;
}

// Keeps one period captured ahead of the reader.
snd_pcm_sframes_t Pcm_Pointer(snd_pcm_ioplug_t *io)
{
    return static_cast<snd_pcm_sframes_t>((io->appl_ptr + io->period_size) % io->buffer_size);
}

// Delivers frames up to the fault point; the fault then strikes as a change
// of state, so a read that reaches it ends short and the next one fails.
snd_pcm_sframes_t Pcm_Transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                               snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    Test_Pcm *pcm = Pcm_Of(io);
    if (pcm->fault != FAULT_NONE && !pcm->broken && pcm->delivered + size >= pcm->fault_after)
        size = pcm->fault_after - pcm->delivered;
    for (snd_pcm_uframes_t f = 0; f < size; f++) {
        for (unsigned int c = 0; c < io->channels; c++) {
            const snd_pcm_channel_area_t *a = &areas[c];
            char *addr = static_cast<char *>(a->addr) + (a->first + (offset + f) * a->step) / 8;
            int16_t value = static_cast<int16_t>(pcm->next_value++);
            memcpy(addr, &value, sizeof(value));
        }
    }
    pcm->delivered += size;
    if (pcm->fault != FAULT_NONE && !pcm->broken && pcm->delivered == pcm->fault_after) {
        pcm->broken = true;
        snd_pcm_state_t state = SND_PCM_STATE_XRUN;
        if (pcm->fault == FAULT_SUSPEND)
            state = SND_PCM_STATE_SUSPENDED;
        else if (pcm->fault == FAULT_GONE)
            state = SND_PCM_STATE_DISCONNECTED;
        snd_pcm_ioplug_set_state(io, state);
    }
    return static_cast<snd_pcm_sframes_t>(size);
}

int Pcm_Prepare(snd_pcm_ioplug_t *io)
{
    Test_Pcm *pcm = Pcm_Of(io);
    if (pcm->broken && pcm->fault == FAULT_STUCK)
        return -EIO;
    if (pcm->broken && pcm->fault == FAULT_GONE)
        return -ENODEV;
    return 0;
}

int Pcm_Resume(snd_pcm_ioplug_t *)
{
    return 0;
}

int Pcm_Close(snd_pcm_ioplug_t *io)
{
    Test_Pcm *pcm = Pcm_Of(io);
    if (io->poll_fd >= 0)
        close(io->poll_fd);
    delete pcm;
    return 0;
}

snd_pcm_ioplug_callback_t Pcm_Callbacks(void)
{
    snd_pcm_ioplug_callback_t cb;
    memset(&cb, 0, sizeof(cb));
    cb.start = Pcm_Start;
    cb.stop = Pcm_Stop;
    cb.pointer = Pcm_Pointer;
    cb.transfer = Pcm_Transfer;
    cb.prepare = Pcm_Prepare;
    cb.resume = Pcm_Resume;
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

int Parse_Fault(const char *text, Fault *fault)
{
    const struct { const char *name; Fault fault; } names[] = {
        {"none", FAULT_NONE}, {"xrun", FAULT_XRUN}, {"stuck", FAULT_STUCK},
        {"suspend", FAULT_SUSPEND}, {"gone", FAULT_GONE},
    };
    for (const auto &n : names) {
        if (strcmp(text, n.name) == 0) {
            *fault = n.fault;
            return 0;
        }
    }
    return -EINVAL;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(velkadortest)
{
    (void)root;
    long rate = 48000;
    long fault_after = 0;
    Fault fault = FAULT_NONE;
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
        if (strcmp(key, "fault_after") == 0) {
            if (snd_config_get_integer(node, &fault_after) < 0 || fault_after < 0) {
                SNDERR("fault_after must be a frame count");
                return -EINVAL;
            }
            continue;
        }
        if (strcmp(key, "fault") == 0) {
            const char *text = nullptr;
            if (snd_config_get_string(node, &text) < 0 || Parse_Fault(text, &fault) < 0) {
                SNDERR("fault must be none, xrun, stuck, suspend or gone");
                return -EINVAL;
            }
            continue;
        }
        SNDERR("Unknown field %s", key);
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_CAPTURE)
        return -EINVAL;

    Test_Pcm *pcm = new Test_Pcm{};
    pcm->fault = fault;
    pcm->fault_after = static_cast<uint64_t>(fault_after);
    snd_pcm_ioplug_t *io = &pcm->io;
    io->version = SND_PCM_IOPLUG_VERSION;
    io->name = "velkador test capture";
    // /dev/zero is always readable, so a wait never blocks.
    io->poll_fd = open("/dev/zero", O_RDONLY | O_CLOEXEC);
    io->poll_events = POLLIN;
    io->callback = &PCM_CALLBACKS;
    io->private_data = pcm;

    int err = snd_pcm_ioplug_create(io, name, stream, mode);
    if (err < 0) {
        if (io->poll_fd >= 0)
            close(io->poll_fd);
        delete pcm;
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
