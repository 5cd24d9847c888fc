// tests/fuzz/fuzz_config.cpp - the configuration loader on arbitrary bytes:
// each input is written to ~/.velkador/velkadorrc of a scratch HOME and read
// through Load_Config, with the real main window built once (under a virtual
// display) so that its controls and the waterfall's size take part.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtk/gtk.h>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "display/fft.h"
#include "display/waterfall.h"
#include "fuzz_shared.h"
#include "sound/intake.h"

namespace {

std::string rc_path;

void Iterate_Pending(void)
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char home[] = "/tmp/velkador-fuzz-config-XXXXXX";
    if (mkdtemp(home) == nullptr || setenv("HOME", home, 1) != 0) {
        perror("fuzz_config: scratch HOME");
        abort();
    }
    std::string dir = std::string(home) + "/.velkador";
    mkdir(dir.c_str(), 0755);
    rc_path = dir + "/velkadorrc";

    if (!gtk_init_check(nullptr, nullptr)) {
        fprintf(stderr, "fuzz_config: no display (run under xvfb-run)\n");
        abort();
    }
    Strlcpy(rc_data.ui_file, VELKADOR_SOURCE_DIR "/data/velkador.glade", sizeof(rc_data.ui_file));
    Build_Main_Window();
    for (int i = 0; i < 100000 && gtk_widget_get_allocated_width(waterfall) <= 1; i++) {
        gtk_main_iteration_do(FALSE);
        g_usleep(100);
    }
    if (gtk_widget_get_allocated_width(waterfall) <= 1) {
        fprintf(stderr, "fuzz_config: the window was never laid out\n");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *fp = fopen(rc_path.c_str(), "wb");
    if (fp == nullptr || fwrite(data, 1, size, fp) != size || fclose(fp) != 0)
        abort();

    Clear_Flag(RCCONFIG_OK | DETECTOR_READY);
    Load_Config(nullptr);

    // What the receive loop relies on once the loader has accepted a file.
    if (isFlagSet(RCCONFIG_OK)) {
        if (rc_data.ifft_decimate < 1 || rc_data.tone_freq < 1 || rc_data.dsp_rate / rc_data.tone_freq < 4 ||
            samples_buffer.data == nullptr || !ifft_ready || wfall_width < 1) {
            fprintf(stderr, "fuzz_config: accepted a file the receiver cannot run on\n");
            abort();
        }
    }

    static unsigned runs = 0;
    if (++runs % 256 == 0)
        Iterate_Pending();  // the redraws the controls queued
    return 0;
}
