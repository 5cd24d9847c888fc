// tests/alsa/test_mixer.cpp - a virtual sound card mixer for the tests, loaded
// by alsa-lib as a control plug-in. Its elements cover the capture set-up's
// cases, and every switch or volume write is appended to a log file as
// "<element> <switch|volume> <channel> <value>", one line per channel.
//
// Config:  ctl.NAME { type velkadortest; log "/path/of/log" }
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int CHANNELS = 2;
constexpr long VOLUME_MIN = 0;
constexpr long VOLUME_MAX = 31;
constexpr long VOLUME_START = 5;

struct Test_Element {
    const char *ctl_name;   // what the card reports
    const char *elem_name;  // the simple element it belongs to
    bool is_switch;         // boolean switch, else an integer volume
};

// "Mic" and "Capture" have a capture switch and volume, "Line" a capture
// volume only, "Master" neither (a playback volume).
const Test_Element ELEMENTS[] = {
    {"Mic Capture Switch", "Mic", true},
    {"Mic Capture Volume", "Mic", false},
    {"Capture Switch", "Capture", true},
    {"Capture Volume", "Capture", false},
    {"Line Capture Volume", "Line", false},
    {"Master Playback Volume", "Master", false},
};
constexpr int ELEMENT_COUNT = sizeof(ELEMENTS) / sizeof(ELEMENTS[0]);

struct Test_Mixer {
    snd_ctl_ext_t ext;
    char *log_path;
    long values[ELEMENT_COUNT][CHANNELS];
};

Test_Mixer *Mixer_Of(snd_ctl_ext_t *ext)
{
    return static_cast<Test_Mixer *>(ext->private_data);
}

void Mixer_Close(snd_ctl_ext_t *ext)
{
    Test_Mixer *mixer = Mixer_Of(ext);
    free(mixer->log_path);
    delete mixer;
}

int Mixer_Elem_Count(snd_ctl_ext_t *)
{
    return ELEMENT_COUNT;
}

int Mixer_Elem_List(snd_ctl_ext_t *, unsigned int offset, snd_ctl_elem_id_t *id)
{
    if (offset >= ELEMENT_COUNT)
        return -EINVAL;
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, ELEMENTS[offset].ctl_name);
    return 0;
}

snd_ctl_ext_key_t Mixer_Find_Elem(snd_ctl_ext_t *, const snd_ctl_elem_id_t *id)
{
    const char *name = snd_ctl_elem_id_get_name(id);
    for (int i = 0; i < ELEMENT_COUNT; i++)
        if (strcmp(name, ELEMENTS[i].ctl_name) == 0)
            return static_cast<snd_ctl_ext_key_t>(i);
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int Mixer_Get_Attribute(snd_ctl_ext_t *, snd_ctl_ext_key_t key, int *type, unsigned int *acc,
                        unsigned int *count)
{
    if (key >= ELEMENT_COUNT)
        return -EINVAL;
    *type = ELEMENTS[key].is_switch ? SND_CTL_ELEM_TYPE_BOOLEAN : SND_CTL_ELEM_TYPE_INTEGER;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = CHANNELS;
    return 0;
}

int Mixer_Get_Integer_Info(snd_ctl_ext_t *, snd_ctl_ext_key_t key, long *imin, long *imax,
                           long *istep)
{
    if (key >= ELEMENT_COUNT)
        return -EINVAL;
    *istep = 1;
    *imin = ELEMENTS[key].is_switch ? 0 : VOLUME_MIN;
    *imax = ELEMENTS[key].is_switch ? 1 : VOLUME_MAX;
    return 0;
}

int Mixer_Read_Integer(snd_ctl_ext_t *ext, snd_ctl_ext_key_t key, long *value)
{
    if (key >= ELEMENT_COUNT)
        return -EINVAL;
    for (int c = 0; c < CHANNELS; c++)
        value[c] = Mixer_Of(ext)->values[key][c];
    return 0;
}

int Mixer_Write_Integer(snd_ctl_ext_t *ext, snd_ctl_ext_key_t key, long *value)
{
    if (key >= ELEMENT_COUNT)
        return -EINVAL;
    Test_Mixer *mixer = Mixer_Of(ext);
    FILE *log = mixer->log_path != nullptr ? fopen(mixer->log_path, "a") : nullptr;
    int changed = 0;
    for (int c = 0; c < CHANNELS; c++) {
        if (mixer->values[key][c] != value[c])
            changed = 1;
        mixer->values[key][c] = value[c];
        if (log != nullptr)
            fprintf(log, "%s %s %d %ld\n", ELEMENTS[key].elem_name,
                    ELEMENTS[key].is_switch ? "switch" : "volume", c, value[c]);
    }
    if (log != nullptr)
        fclose(log);
    return changed;
}

int Mixer_Read_Event(snd_ctl_ext_t *, snd_ctl_elem_id_t *, unsigned int *)
{
    return -EAGAIN;
}

const snd_ctl_ext_callback_t MIXER_CALLBACKS = {
    .close = Mixer_Close,
    .elem_count = Mixer_Elem_Count,
    .elem_list = Mixer_Elem_List,
    .find_elem = Mixer_Find_Elem,
    .free_key = nullptr,
    .get_attribute = Mixer_Get_Attribute,
    .get_integer_info = Mixer_Get_Integer_Info,
    .get_integer64_info = nullptr,
    .get_enumerated_info = nullptr,
    .get_enumerated_name = nullptr,
    .read_integer = Mixer_Read_Integer,
    .read_integer64 = nullptr,
    .read_enumerated = nullptr,
    .read_bytes = nullptr,
    .read_iec958 = nullptr,
    .write_integer = Mixer_Write_Integer,
    .write_integer64 = nullptr,
    .write_enumerated = nullptr,
    .write_bytes = nullptr,
    .write_iec958 = nullptr,
    .subscribe_events = nullptr,
    .read_event = Mixer_Read_Event,
    .poll_descriptors_count = nullptr,
    .poll_descriptors = nullptr,
    .poll_revents = nullptr,
};

} // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(velkadortest)
{
    (void)root;
    const char *log_path = nullptr;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t *node = snd_config_iterator_entry(i);
        const char *key = nullptr;
        if (snd_config_get_id(node, &key) < 0)
            continue;
        if (strcmp(key, "comment") == 0 || strcmp(key, "type") == 0 || strcmp(key, "hint") == 0)
            continue;
        if (strcmp(key, "log") == 0) {
            if (snd_config_get_string(node, &log_path) < 0) {
                SNDERR("log must be a string");
                return -EINVAL;
            }
            continue;
        }
        SNDERR("Unknown field %s", key);
        return -EINVAL;
    }

    Test_Mixer *mixer = new Test_Mixer{};
    mixer->log_path = log_path != nullptr ? strdup(log_path) : nullptr;
    for (int e = 0; e < ELEMENT_COUNT; e++)
        for (int c = 0; c < CHANNELS; c++)
            mixer->values[e][c] = ELEMENTS[e].is_switch ? 0 : VOLUME_START;

    snd_ctl_ext_t *ext = &mixer->ext;
    ext->version = SND_CTL_EXT_VERSION;
    ext->card_idx = 0;
    strncpy(ext->id, "velkadortest", sizeof(ext->id) - 1);
    strncpy(ext->driver, "velkadortest", sizeof(ext->driver) - 1);
    strncpy(ext->name, "Test mixer", sizeof(ext->name) - 1);
    strncpy(ext->longname, "Test mixer with a logged write", sizeof(ext->longname) - 1);
    strncpy(ext->mixername, "Test mixer", sizeof(ext->mixername) - 1);
    ext->poll_fd = -1;
    ext->callback = &MIXER_CALLBACKS;
    ext->private_data = mixer;

    int err = snd_ctl_ext_create(ext, name, mode);
    if (err < 0) {
        free(mixer->log_path);
        delete mixer;
        return err;
    }
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(velkadortest);

} // extern "C"
