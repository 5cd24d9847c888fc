// tests/test_morse_rx.h - decodes audio through the real receive path: the
// file-backed ALSA capture device, the sample intake, the tone detector and
// the decoder, with rc_data set as the configuration loader sets it.
#ifndef VELKADOR_TESTS_TEST_MORSE_RX_H
#define VELKADOR_TESTS_TEST_MORSE_RX_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rx_Setup {
    int32_t dsp_rate = 48000;
    int32_t tone_freq = 800;   // as the loader leaves it (already rounded)
    int32_t min_wpm = 6;
    int32_t max_wpm = 60;
    int32_t wpm = 20;          // initial speed: unit_elem
    int32_t squelch = 3;       // the UI file's initial values
    double ratio = 1.5;
    int32_t use_chnl = 0;
};

struct Rx_Result {
    std::string text;          // everything Get_Character yielded
    int64_t fragments = 0;     // detector steps run
    bool failed = false;       // a step returned 0
};

// Sets rc_data, the sample buffer and the scope size as the loader does,
// initialises the detector and opens the capture device on a raw file
// holding stereo. Returns the number of whole fragments the audio holds.
int64_t Start_Rx(const std::vector<int16_t> &stereo, const Rx_Setup &setup);

// Runs Get_Character over count fragments; after each step that yielded
// text, on_text (if given) sees it.
Rx_Result Run_Rx(int64_t count, const std::function<void(const char *)> &on_text = nullptr);

// Closes the device and removes its audio file.
void Stop_Rx(void);

// Start_Rx, Run_Rx over the whole audio, and the device closed again.
Rx_Result Decode_Stereo(const std::vector<int16_t> &stereo, const Rx_Setup &setup);

// Upper case, runs of blanks squeezed to one, no blank at either end: the
// form in which decoded text is compared with what was sent.
std::string Normalised(const std::string &text);

#endif
