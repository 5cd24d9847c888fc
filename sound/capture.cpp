// sound/capture.cpp - opens the PCM device with its fixed hardware set-up,
// turns the mixer's capture switch on and sets the capture level, and closes
// both again. The mixer is only held while the switch and level are set.
#include "sound/capture.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/shared.h"
#include "ui/interface.h"

namespace {

constexpr size_t MESG_LEN = 128;
constexpr unsigned int PCM_CHANNELS = 2;
constexpr unsigned int PCM_PERIODS = 4;
constexpr snd_pcm_uframes_t PCM_PERIOD_FRAMES = 4096;

snd_pcm_hw_params_t *hw_params = nullptr;
snd_mixer_t *mixer_handle = nullptr;

// Writes a message with one number over whatever the buffer held.
void Write_Number_Message(char *mesg, const char *format, long value)
{
    snprintf(mesg, MESG_LEN, format, static_cast<int>(value));
}

// Appends a translated prefix and a device or element name.
void Append_Named_Message(char *mesg, const char *prefix, const char *name)
{
    Strlcat(mesg, prefix, MESG_LEN);
    Strlcat(mesg, name, MESG_LEN);
}

// The PCM's hardware set-up: interleaved S16_LE stereo at dsp_rate in four
// periods of 4096 frames. 1 on success.
int Set_Hw_Params(char *mesg, int *error)
{
    *error = snd_pcm_hw_params_malloc(&hw_params);
    if (*error < 0) {
        hw_params = nullptr;
        Strlcat(mesg, _("Cannot allocate hardware parameter struct"), MESG_LEN);
        return 0;
    }

    *error = snd_pcm_hw_params_any(pcm_handle, hw_params);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot initialize hardware parameter struct"), MESG_LEN);
        return 0;
    }

    *error = snd_pcm_hw_params_set_access(pcm_handle, hw_params, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot set access type (RW_INTERLEAVED)"), MESG_LEN);
        return 0;
    }

    *error = snd_pcm_hw_params_set_format(pcm_handle, hw_params, SND_PCM_FORMAT_S16_LE);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot set sample format (S16_LE)"), MESG_LEN);
        return 0;
    }

    *error = snd_pcm_hw_params_set_rate(pcm_handle, hw_params,
                                        static_cast<unsigned int>(rc_data.dsp_rate), 0);
    if (*error < 0) {
        Write_Number_Message(mesg, _("Cannot set sample rate to %d"), rc_data.dsp_rate);
        return 0;
    }

    *error = snd_pcm_hw_params_set_channels(pcm_handle, hw_params, PCM_CHANNELS);
    if (*error < 0) {
        Write_Number_Message(mesg, _("Cannot set channel count to %d"), PCM_CHANNELS);
        return 0;
    }

    *error = snd_pcm_hw_params_set_periods(pcm_handle, hw_params, PCM_PERIODS, 0);
    if (*error < 0) {
        Write_Number_Message(mesg, _("Cannot set number of periods to %d"), PCM_PERIODS);
        return 0;
    }

    *error = snd_pcm_hw_params_set_period_size(pcm_handle, hw_params, PCM_PERIOD_FRAMES, 0);
    if (*error < 0) {
        Write_Number_Message(mesg, _("Cannot set period size to %d"), PCM_PERIOD_FRAMES);
        return 0;
    }

    *error = snd_pcm_hw_params(pcm_handle, hw_params);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot set capture parameters"), MESG_LEN);
        return 0;
    }

    snd_pcm_hw_params_free(hw_params);
    hw_params = nullptr;
    return 1;
}

// Sets the capture level on the cap_vol element. Every outcome here only
// warns: the dialog shows the buffer and set-up carries on.
void Set_Capture_Volume(snd_mixer_selem_id_t *sid, char *mesg, int *error)
{
    snd_mixer_selem_id_set_index(sid, 0);
    snd_mixer_selem_id_set_name(sid, rc_data.cap_vol);
    snd_mixer_elem_t *elem = snd_mixer_find_selem(mixer_handle, sid);
    if (elem == nullptr) {
        Append_Named_Message(mesg, _("Cannot find Volume element: "), rc_data.cap_vol);
        Error_Dialog(mesg);
        return;
    }

    if (!snd_mixer_selem_has_capture_volume(elem)) {
        Append_Named_Message(mesg, _("Element has no Volume control: "), rc_data.cap_vol);
        *error = 0;
        Error_Dialog(mesg);
        return;
    }

    long vol_min = 0, vol_max = 0;
    snd_mixer_selem_get_capture_volume_range(elem, &vol_min, &vol_max);
    int64_t level = static_cast<int64_t>(vol_min) +
                    (static_cast<int64_t>(rc_data.cap_level) *
                     (static_cast<int64_t>(vol_max) - vol_min)) / 100;
    *error = snd_mixer_selem_set_capture_volume(
        elem, static_cast<snd_mixer_selem_channel_id_t>(rc_data.channel), static_cast<long>(level));
    if (*error < 0) {
        snprintf(mesg, MESG_LEN, _("Cannot set capture volume to %d\nError: %s"),
                 rc_data.cap_level, snd_strerror(*error));
        Error_Dialog(mesg);
    }
}

// Turns on the capture switch of cap_src for the configured channel and sets
// the level. The mixer is closed again on success; a failure leaves it open
// for Close_Mixer_Handle. 1 on success.
int Set_Capture_Mixer(char *mesg, int *error)
{
    *error = snd_mixer_open(&mixer_handle, 0);
    if (*error < 0) {
        mixer_handle = nullptr;
        Strlcat(mesg, _("Cannot open mixer"), MESG_LEN);
        return 0;
    }

    *error = snd_mixer_attach(mixer_handle, rc_data.snd_card);
    if (*error < 0) {
        Append_Named_Message(mesg, _("Cannot attach mixer to: "), rc_data.snd_card);
        return 0;
    }

    *error = snd_mixer_selem_register(mixer_handle, nullptr, nullptr);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot register mixer"), MESG_LEN);
        return 0;
    }

    *error = snd_mixer_load(mixer_handle);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot load mixer"), MESG_LEN);
        return 0;
    }

    snd_mixer_selem_id_t *sid = nullptr;
    *error = snd_mixer_selem_id_malloc(&sid);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot allocate selem_id struct"), MESG_LEN);
        return 0;
    }

    snd_mixer_selem_id_set_index(sid, 0);
    snd_mixer_selem_id_set_name(sid, rc_data.cap_src);
    snd_mixer_elem_t *elem = snd_mixer_find_selem(mixer_handle, sid);
    if (elem == nullptr) {
        Append_Named_Message(mesg, _("Cannot find capture element: "), rc_data.cap_src);
        *error = 0;
        snd_mixer_selem_id_free(sid);
        return 0;
    }

    if (!snd_mixer_selem_has_capture_switch(elem)) {
        Append_Named_Message(mesg, _("Device has no capture switch: "), rc_data.cap_src);
        *error = 0;
        snd_mixer_selem_id_free(sid);
        return 0;
    }

    *error = snd_mixer_selem_set_capture_switch(
        elem, static_cast<snd_mixer_selem_channel_id_t>(rc_data.channel), 1);
    if (*error < 0) {
        Append_Named_Message(mesg, _("Cannot set capture device: "), rc_data.cap_src);
        snd_mixer_selem_id_free(sid);
        return 0;
    }

    // Exactly "--" means there is no volume element; anything else is a name.
    if (strcmp(rc_data.cap_vol, "--") != 0)
        Set_Capture_Volume(sid, mesg, error);

    snd_mixer_selem_id_free(sid);
    Close_Mixer_Handle();
    return 1;
}

} // namespace

snd_pcm_t *pcm_handle = nullptr;

// In both sound modes the receiver's audio arrives on the named device, so
// it is always opened for capture; the playback mode (a receiver whose own
// software plays into a loopback device) only leaves the mixer alone.
//
// The open mode asks for asynchronous notification; reads stay blocking and
// no notification handler is installed, so nothing is delivered.
int Setup_Sound_Card(char *mesg, int *error)
{
    *error = snd_pcm_open(&pcm_handle, rc_data.snd_card, SND_PCM_STREAM_CAPTURE, SND_PCM_ASYNC);
    if (*error < 0) {
        pcm_handle = nullptr;
        Append_Named_Message(mesg, _("Cannot open audio device: "), rc_data.snd_card);
        return 0;
    }

    if (!Set_Hw_Params(mesg, error))
        return 0;

    if (rc_data.snd_mode == MODE_CAPTURE && !Set_Capture_Mixer(mesg, error))
        return 0;

    *error = snd_pcm_prepare(pcm_handle);
    if (*error < 0) {
        Strlcat(mesg, _("Cannot prepare audio interface"), MESG_LEN);
        return 0;
    }
    return 1;
}

void Close_PCM_Handle(void)
{
    if (pcm_handle != nullptr)
        snd_pcm_close(pcm_handle);
    pcm_handle = nullptr;
    if (hw_params != nullptr)
        snd_pcm_hw_params_free(hw_params);
    hw_params = nullptr;
}

void Close_Mixer_Handle(void)
{
    if (mixer_handle != nullptr)
        snd_mixer_close(mixer_handle);
    mixer_handle = nullptr;
}
