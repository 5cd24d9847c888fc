// core/shared.h - the process-wide settings record, the status flags and the
// small helpers every module uses (allocation, bounded strings, translation).
// Everything here lives on the GTK main thread; no locks.
#ifndef VELKADOR_CORE_SHARED_H
#define VELKADOR_CORE_SHARED_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <libintl.h>

#define PACKAGE "velkador"
#define VERSION_LINE "velkador 3.6.7"

// Translation of a user message; N_ marks a text for extraction only.
#define _(text) dgettext(PACKAGE, text)
#define N_(text) text

// Transceiver types (rc_data.tcvr_type)
enum {
    TCVR_NONE = 0,
    TCVR_FT847 = 1,
    TCVR_FT857 = 2,
    TCVR_K2 = 3,
    TCVR_K3 = 4,
    TCVR_PERSEUS = 5,
    TCVR_HAMLIB = 6
};

// Sound modes (rc_data.snd_mode)
enum { MODE_CAPTURE = 1, MODE_PLAYBACK = 2 };

// Bits of the status flags word
enum : int32_t {
    ADAPT_SPEED = 0x0001,
    DISPLAY_SIGNAL = 0x0008,
    DISPLAY_RATIO = 0x0010,
    DISPLAY_LEVEL = 0x0020,
    DRAW_SCOPE = 0x0040,
    HOLD_SCOPE = 0x0080,
    ENABLE_CAT = 0x0200,
    TCVR_SERIAL_OK = 0x0400,
    DETECTOR_READY = 0x0800,
    RCCONFIG_OK = 0x1000,
    MARK_TONE = 0x2000,
    SPACE_TONE = 0x4000,
    CAT_SETUP = 0x8000,
    ADAPTIVE_TRACE = 0x10000  // the scope trace is the adaptive decoder's, with its threshold
};

// Long enough for any real home directory; longer paths are cut, never overrun.
constexpr size_t PATH_BUF_LEN = PATH_MAX;

struct rc_data_t {
    char snd_card[32];    // ALSA name of the PCM device and of its mixer
    char cap_src[32];     // mixer element holding the capture switch
    char cap_vol[32];     // mixer element holding the capture volume, "--" for none
    uint8_t snd_mode;     // MODE_CAPTURE or MODE_PLAYBACK
    int32_t channel;      // simple-mixer channel id of switch and volume
    int32_t use_chnl;     // 0 left (or mono), 1 right sample of each frame
    int32_t cap_level;    // capture volume, percent of the element's range
    int32_t dsp_rate;     // sample rate, Hz
    char cat_serial[32];  // path of the CAT serial port
    int32_t tcvr_type;    // TCVR_*
    int32_t hamlib_model; // Hamlib model the configuration names, 0 for none
    int32_t hamlib_baud;  // its line speed, 0 for the model's own
    int32_t rx_freq;      // receive (dial) frequency, Hz
    int32_t tone_freq;    // input tone, Hz, rounded to the waterfall's middle column
    int32_t ifft_decimate;// samples averaged into one FFT input value
    int32_t unit_elem;    // Morse unit (a dot) in detector fragments
    int32_t min_unit;     // unit at Maximum WPM, fragments
    int32_t max_unit;     // unit at Minimum WPM, fragments
    int32_t max_unit_x2;  // 2 * max_unit: length of the level history
    int32_t det_squelch;  // squelch setting
    int32_t det_thld;     // threshold line height on the scope, pixels
    double det_ratio;     // lead/trail ratio threshold
    char ui_file[PATH_BUF_LEN]; // GtkBuilder UI description file
};

extern rc_data_t rc_data;
extern int32_t flags;

int isFlagSet(int32_t mask);
int isFlagClear(int32_t mask);
void Set_Flag(int32_t mask);
void Clear_Flag(int32_t mask);

// Allocation with reporting: 1 on success, 0 after reporting the failure on
// standard error and in the error dialog. mem_alloc frees the old block first
// and clears the new one; mem_realloc keeps the contents and nulls on failure.
int mem_alloc_block(void **ptr, size_t size);
int mem_realloc_block(void **ptr, size_t size);

template <typename T> int mem_alloc(T **ptr, size_t size)
{
    void *block = *ptr;
    int ok = mem_alloc_block(&block, size);
    *ptr = static_cast<T *>(block);
    return ok;
}

template <typename T> int mem_realloc(T **ptr, size_t size)
{
    void *block = *ptr;
    int ok = mem_realloc_block(&block, size);
    *ptr = static_cast<T *>(block);
    return ok;
}

// Bounded copy and append: dest holds n bytes; the result is always
// terminated and silently cut. n must be at least 1.
void Strlcpy(char *dest, const char *src, size_t n);
void Strlcat(char *dest, const char *src, size_t n);

#endif
