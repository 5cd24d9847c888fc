// tools/cwgen.h - the CW signal generator: text in, keyed tone out as
// interleaved 16-bit stereo frames (both channels alike), with optional hand
// keying jitter, noise (white, or band-limited as behind a receiver's filter)
// at a set SNR or level, and a second signal.
// Used by velkador-cwgen and, in-process, by velkador-cer, the tests and
// the benchmarks, which also measure copies against the text sent.
#ifndef VELKADOR_TOOLS_CWGEN_H
#define VELKADOR_TOOLS_CWGEN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Cw_Params {
    double wpm = 20.0;             // character speed, PARIS timing: a dot is 1.2 / wpm s
    double farnsworth_wpm = 0.0;   // overall speed with stretched gaps; 0 for none
    double end_wpm = 0.0;          // speed of the last character, reached evenly
                                   // character by character; 0: wpm throughout
    double tone_hz = 800.0;
    int32_t rate = 48000;          // samples per second
    double weight = 3.0;           // dash length in dots
    double jitter = 0.0;           // std deviation of every element and gap, in units
    bool noise = false;
    double snr_db = 20.0;          // keyed-down tone power / noise power in 2500 Hz
    bool noise_at_level = false;   // the noise's level set by noise_dbfs instead of
                                   // snr_db; the mix is then not scaled down, so
                                   // loud noise clips as it would at a sound card
    double noise_dbfs = -20.0;     // RMS of the noise, dB of full scale
    double band_low_hz = 0.0;      // the noise band-limited to low .. high (fourth-
    double band_high_hz = 0.0;     // order edges); 0 and 0: white. Within the band
                                   // its density is that of white noise at snr_db
    double edge_ms = 5.0;          // raised-cosine rise and fall time
    double level = 0.5;            // tone peak amplitude, fraction of full scale
    uint64_t seed = 1;             // jitter and noise
    double lead_ms = 500.0;        // silence before the first element
    double trail_ms = 1000.0;      // silence after the last element
    std::string second_text;       // empty: no second signal
    double second_tone_hz = 1000.0;
    double second_level_db = 0.0;  // relative to the first signal
    double second_wpm = 0.0;       // 0: the same speed as the first
};

// One key-down stretch, in seconds from the start of the audio.
struct Cw_Key {
    double on_s;
    double off_s;
};

// Everything needed to render the audio piece by piece.
struct Cw_Stream {
    int32_t rate = 0;
    int64_t total_frames = 0;
    int64_t next_frame = 0;
    double edge_s = 0.0;
    double tone_hz[2] = {0.0, 0.0};
    double amplitude[2] = {0.0, 0.0};  // after the headroom scaling, full scale 1.0
    double noise_sigma = 0.0;          // std deviation, full scale 1.0; 0 for none
    int band_sections = 0;             // biquads shaping the noise; 0: white
    double band_coef[4][5] = {};       // b0 b1 b2 a1 a2 of each
    double band_state[4][2] = {};      // transposed direct form II
    std::vector<Cw_Key> keys[2];
    size_t key_pos[2] = {0, 0};
    uint64_t rng_state = 0;
    bool have_spare = false;
    double spare_gauss = 0.0;
};

// Checks the parameters; 1 when usable, else 0 with the reason in error.
int Cw_Check_Params(const Cw_Params &params, std::string &error);

// Splits text into the element patterns of its characters ("." and "-"),
// with "" for each word gap (a run of blanks). Letters in either case,
// digits, . , ? ' ! / ( ) & : ; = + - _ " $ @, Ä Ö Ü ß (UTF-8), the prosigns
// <OK> <GO> <BK> <SK> <!!>, and raw patterns such as [........].
// 1 on success, else 0 with the offending character and its place in error.
int Cw_Parse_Text(const std::string &text, std::vector<std::string> &patterns, std::string &error);

// The element pattern of one character of the table as written in text
// ("A", "<SK>", "Ä"), or null when it has none.
const char *Cw_Pattern(const std::string &character);

// Key-down stretches of text at the given speed (with jitter from seed),
// starting at lead_s; end_s receives the time the last gap ends. With
// end_wpm above 0 the speed moves evenly from wpm to end_wpm.
int Cw_Keying(const Cw_Params &params, const std::string &text, double wpm, double lead_s,
              uint64_t seed, std::vector<Cw_Key> &keys, double &end_s, std::string &error,
              double end_wpm = 0.0);

// Prepares a stream; 1 on success, else 0 with the reason in error.
int Cw_Begin(Cw_Stream &stream, const Cw_Params &params, const std::string &text, std::string &error);

// Renders up to max_frames stereo frames into out (2 values per frame);
// returns the number rendered, 0 at the end.
size_t Cw_Render(Cw_Stream &stream, int16_t *out, size_t max_frames);

// The whole audio at once.
int Cw_Generate(const Cw_Params &params, const std::string &text, std::vector<int16_t> &stereo_out,
                std::string &error);

// The 44-byte header of a 16-bit stereo PCM WAV file of the given length.
void Cw_Wav_Header(int32_t rate, int64_t frames, uint8_t header[44]);

// How far a copy is from the text sent: the characters to insert, delete
// or change to turn a into b.
size_t Edit_Distance(const std::string &a, const std::string &b);

#endif
