// tests/bench_day.cpp - a day of audio through the real window's receive
// loop: the configuration names the file-backed capture device, whose input
// is a FIFO fed by a generator thread with CW in noise, as fast as the loop
// reads it. Prints resident memory at the start, after every simulated hour
// and at the end, the characters sent and decoded, and the CPU time of the
// receiving (main) thread and of the generator.
//
//   build/tests/bench_day [--hours H] [--rate HZ] [--decoder Classic|Adaptive]
//   (run it under xvfb-run; BENCH_DAY_TEXT=1 also prints the decoded text)
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtk/gtk.h>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

const char *const QSO[] = {
    "CQ CQ DE DL2ABC DL2ABC K",
    "DL2ABC DE G4XYZ GM OM TNX FER CALL UR RST 579 579 NAME JOHN QTH LONDON HW?",
    "G4XYZ DE DL2ABC R FB JOHN RST 599 NAME PETER QTH BERLIN 73 <SK>",
    "CQ TEST DE OK1RR OK1RR TEST",
    "PA3ABC 5NN 14 TU",
};

std::atomic<int64_t> frames_written{0};
std::atomic<bool> generator_done{false};
std::atomic<long> characters_sent{0};
double generator_cpu_s = 0.0;

long Rss_Kb(void)
{
    FILE *f = fopen("/proc/self/status", "r");
    long kb = -1;
    char line[256];
    while (f != nullptr && fgets(line, sizeof(line), f) != nullptr)
        if (strncmp(line, "VmRSS:", 6) == 0)
            kb = atol(line + 6);
    if (f != nullptr)
        fclose(f);
    return kb;
}

double Thread_Cpu_S(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Writes hours of QSOs in noise (20 to 30 dB SNR, 18 to 21 WPM, a few
// seconds of noise between them) into the FIFO, then closes it.
void Generate(const std::string &fifo, int rate, double hours)
{
    FILE *out = fopen(fifo.c_str(), "wb");
    if (out == nullptr) {
        perror(fifo.c_str());
        generator_done = true;
        return;
    }
    const int64_t total = static_cast<int64_t>(hours * 3600.0 * rate);
    const int64_t hour = static_cast<int64_t>(3600) * rate;
    std::vector<int16_t> block(2 * 4096);
    for (uint64_t n = 0; frames_written < total; n++) {
        Cw_Params p;
        p.rate = rate;
        p.wpm = 18 + static_cast<double>(n % 4);  // what the classic copies at 20
        p.noise = true;
        p.snr_db = 20 + static_cast<double>(n % 11);
        p.seed = n + 1;
        p.lead_ms = 2000.0;
        p.trail_ms = 3000.0;
        const std::string text = QSO[n % (sizeof(QSO) / sizeof(QSO[0]))];
        Cw_Stream stream;
        std::string error;
        if (!Cw_Begin(stream, p, text, error)) {
            fprintf(stderr, "bench_day: %s\n", error.c_str());
            break;
        }
        for (char c : text)
            characters_sent += c != ' ';
        for (size_t got; (got = Cw_Render(stream, block.data(), 4096)) > 0;) {
            if (fwrite(block.data(), 4, got, out) != got) {
                perror(fifo.c_str());
                frames_written = total;
                break;
            }
            int64_t before = frames_written.fetch_add(static_cast<int64_t>(got));
            if ((before + static_cast<int64_t>(got)) / hour != before / hour)
                printf("hour %2lld: RSS %ld kB\n", static_cast<long long>((before + got) / hour), Rss_Kb());
        }
    }
    fclose(out);
    generator_cpu_s = Thread_Cpu_S();
    generator_done = true;
}

long Decoded_Characters(void)
{
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(rx_text_buffer, &start, &end);
    gchar *text = gtk_text_buffer_get_text(rx_text_buffer, &start, &end, FALSE);
    long n = 0;
    for (const gchar *c = text; *c != '\0'; c = g_utf8_next_char(c))
        n += *c != ' ';
    g_free(text);
    return n;
}

}  // namespace

int main(int argc, char *argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);  // the hourly lines as they come
    double hours = 24.0;
    int rate = 16000;
    const char *decoder = "Classic";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--hours") == 0)
            hours = atof(argv[i + 1]);
        else if (strcmp(argv[i], "--rate") == 0)
            rate = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--decoder") == 0)
            decoder = argv[i + 1];
    }
    if (!Gtk_Test_Init()) {
        fprintf(stderr, "bench_day: no display (run under xvfb-run)\n");
        return 1;
    }

    std::string dir = Make_Scratch_Dir("day");
    std::string fifo = dir + "/audio.fifo";
    if (mkfifo(fifo.c_str(), 0600) != 0) {
        perror(fifo.c_str());
        return 1;
    }
    Alsa_Test_Env env = Make_Alsa_Test_Env(fifo);
    mkdir((env.home + "/.velkador").c_str(), 0755);
    Write_Text_File(env.home + "/.velkador/velkadorrc", env.device + "\n" + std::to_string(rate) +
                                                            "\nFRONT_LEFT\nCapture\nCapture\n50\n40\n10\n20\n"
                                                            "/dev/null\nNONE\n0\n800\n");

    Build_Test_Window();
    Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; });
    g_idle_add(Load_Config, nullptr);
    Iterate_Until([] { return isFlagSet(RCCONFIG_OK) || error_dialog != nullptr; });
    if (!isFlagSet(RCCONFIG_OK | DETECTOR_READY)) {
        fprintf(stderr, "bench_day: %s\n", Error_Dialog_Text().c_str());
        return 1;
    }
    if (!gtk_combo_box_set_active_id(GTK_COMBO_BOX(Builder_Get_Object(main_builder, "decoder_combobox")), decoder)) {
        fprintf(stderr, "bench_day: no decoder \"%s\"\n", decoder);
        return 1;
    }
    printf("bench_day: %.1f h at %d Hz, tone %d Hz, %s decoder\nstart: RSS %ld kB\n", hours, rate,
           rc_data.tone_freq, decoder, Rss_Kb());
    fflush(stdout);

    // The device opens the FIFO for reading when reception starts.
    std::thread generator(Generate, fifo, rate, hours);
    GtkToggleButton *receive = GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "receive_togglebutton"));
    gtk_toggle_button_set_active(receive, TRUE);
    const double cpu_start = Thread_Cpu_S();

    // After the writer ends the device delivers silence: a few seconds of it
    // let the loop finish what it had buffered.
    long after_end = 0;
    while (after_end < 10L * rc_data.tone_freq / 2) {
        gtk_main_iteration_do(FALSE);
        if (generator_done)
            after_end++;
        if (error_dialog != nullptr) {
            fprintf(stderr, "bench_day: %s\n", Error_Dialog_Text().c_str());
            break;
        }
    }
    const double cpu_rx = Thread_Cpu_S() - cpu_start;
    gtk_toggle_button_set_active(receive, FALSE);
    generator.join();

    printf("end: RSS %ld kB\n", Rss_Kb());
    printf("characters sent %ld, decoded %ld (blanks not counted in either)\n",
           characters_sent.load(), Decoded_Characters());
    if (getenv("BENCH_DAY_TEXT") != nullptr)
        printf("%s\n", Rx_View_Text().c_str());
    printf("CPU: receive loop %.1f s, generator %.1f s, for %.1f h of audio\n", cpu_rx, generator_cpu_s,
           static_cast<double>(frames_written) / rate / 3600.0);
    return 0;
}
