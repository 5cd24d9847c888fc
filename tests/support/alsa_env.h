// tests/support/alsa_env.h - real ALSA devices for the tests: a capture PCM
// that reads a raw file through the "file" plug-in over the "null" slave, and
// the project's own control plug-in as its mixer, logging every write.
#ifndef VELKADOR_TESTS_ALSA_ENV_H
#define VELKADOR_TESTS_ALSA_ENV_H

#include <cstdint>
#include <string>
#include <vector>

struct Alsa_Test_Env {
    std::string home;       // temporary HOME holding .asoundrc (HOME is set to it)
    std::string device;     // ALSA name for both the PCM and its mixer, e.g. "velkadortest"
    std::string infile;     // raw S16_LE stereo file (or FIFO) the capture PCM reads
    std::string mixer_log;  // file where the virtual mixer records every write
    std::string fixed_rate_device; // a generated capture at FIXED_RATE_HZ only, same mixer
};

// The one rate that the generated captures accept.
constexpr unsigned int FIXED_RATE_HZ = 48000;

// Creates a temporary HOME, writes ~/.asoundrc naming a capture PCM `device`
// (ALSA "file" plug-in over the "null" slave, infile = `infile`, format "raw")
// and a ctl `device` served by the project's test mixer plug-in; sets HOME and
// makes ALSA re-read its configuration (snd_config_update_free_global).
Alsa_Test_Env Make_Alsa_Test_Env(const std::string &infile);

// Adds a generated capture PCM `name` at FIXED_RATE_HZ to env's .asoundrc
// and makes ALSA re-read it. Its n-th 16-bit value is n (mod 65536, signed),
// counted from 0 on each open; after fault_after frames it falls into `fault`:
// "xrun" (prepare clears it), "stuck" (prepare fails), "suspend" or "gone"
// (disconnected). "none" never fails.
void Add_Generated_Capture(const Alsa_Test_Env &env, const std::string &name,
                           const std::string &fault, long fault_after);

// A fresh temporary directory, removed with its contents when the test
// process ends (Make_Alsa_Test_Env's HOME is one too).
std::string Make_Scratch_Dir(const char *tag);

// Opens a real capture device on silence through Setup_Sound_Card (no
// mixer), for tests that check that a way out closes it. Fails the test
// when it cannot.
void Open_Silent_Capture(void);

// Writes interleaved S16_LE values to path.
void Write_Raw_Samples(const std::string &path, const std::vector<int16_t> &values);

// One logged mixer write: "<element> <switch|volume> <channel> <value>".
struct Mixer_Write {
    std::string element;
    std::string control;
    int channel;
    long value;
};

// Every write the virtual mixer logged so far, oldest first.
std::vector<Mixer_Write> Read_Mixer_Log(const Alsa_Test_Env &env);

#endif
