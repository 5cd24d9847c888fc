// core/startup.cpp - options, the working-directory bootstrap, the main
// window, signals and Cleanup.
#include "core/startup.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <glib-unix.h>

#include "cat/serial.h"
#include "core/config.h"
#include "core/shared.h"
#include "sound/capture.h"
#include "ui/interface.h"

extern char **environ;

GtkBuilder *main_builder = nullptr;
GtkTextBuffer *rx_text_buffer = nullptr;
GtkWidget *rx_scrolledwindow = nullptr;
GtkWidget *scope = nullptr;
GtkWidget *waterfall = nullptr;
GtkWidget *scope_label = nullptr;
GtkWidget *receiver_combobox = nullptr;
GtkWidget *frequency = nullptr;
GtkWidget *speed = nullptr;
GtkWidget *squelch = nullptr;
GtkWidget *ratio = nullptr;

namespace {

constexpr const char *UI_FILE_TAIL = "/.velkador/velkador.glade";
constexpr const char *WORK_DIR_TAIL = "/.velkador";
constexpr const char *EXAMPLES_TAIL = "/share/examples/velkador";
constexpr size_t BINARY_TAIL_LEN = 13;  // strlen("/bin/velkador")

struct Signal_Message {
    int signum;
    const char *text;        // untranslated
    const char *translated;  // looked up once GTK has set the locale
    size_t length;
};

// Filled before any handler can run and only read afterwards, so the fatal
// handler can write the texts without calling into gettext or stdio.
std::array<Signal_Message, 5> signal_messages = {{
    {SIGINT, N_("velkador: Exiting via User Interrupt"), nullptr, 0},
    {SIGSEGV, N_("velkador: Segmentation Fault"), nullptr, 0},
    {SIGFPE, N_("velkador: Floating Point Exception"), nullptr, 0},
    {SIGTERM, N_("velkador: Termination Request received"), nullptr, 0},
    {SIGABRT, N_("velkador: Abort Signal received"), nullptr, 0},
}};

void Translate_Signal_Messages(bool translate)
{
    for (auto &m : signal_messages) {
        m.translated = translate ? _(m.text) : m.text;
        m.length = strlen(m.translated);
    }
}

const Signal_Message *Find_Signal_Message(int signum)
{
    for (const auto &m : signal_messages)
        if (m.signum == signum)
            return &m;
    return nullptr;
}

void Write_All(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n <= 0)
            return;
        text += n;
        len -= static_cast<size_t>(n);
    }
}

// SIGINT and SIGTERM arrive here through the main loop, where closing the
// devices (and sending an FT847 its CAT-off) is safe.
gboolean Quit_Signal(gpointer data)
{
    int signum = GPOINTER_TO_INT(data);
    Cleanup();
    const Signal_Message *m = Find_Signal_Message(signum);
    fprintf(stderr, "\n%s\n", m != nullptr ? m->translated : "");
    exit(signum);
}

void Install_Signal_Handlers(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = Signal_Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    for (int signum : {SIGINT, SIGSEGV, SIGFPE, SIGTERM, SIGABRT}) {
        if (sigaction(signum, &sa, nullptr) == -1)
            perror("velkador: sigaction()");
    }
}

// Copies one example file to dest, which must not exist yet (O_EXCL): a file
// the user already has is never touched. 1 when the copy is complete.
int Copy_Missing_File(const char *src, const char *dest)
{
    int in = open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        perror(src);
        return 0;
    }
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return 0;  // only plain files are examples
    }
    int out = open(dest, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        if (errno != EEXIST)
            perror(dest);
        close(in);
        return 0;
    }

    int ok = 1;
    char buf[8192];
    for (;;) {
        ssize_t got = read(in, buf, sizeof(buf));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            perror(src);
            ok = 0;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t n = write(out, buf + done, static_cast<size_t>(got - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                perror(dest);
                ok = 0;
                break;
            }
            done += n;
        }
        if (!ok)
            break;
    }
    close(in);
    if (close(out) != 0) {
        perror(dest);
        ok = 0;
    }
    // A half-written copy would pass for the user's own file next time.
    if (!ok)
        unlink(dest);
    return ok;
}

// A working directory that exists (made by hand, say, to hold a velkadorrc)
// gets the example files it lacks; cp -r would put a copy of the examples
// directory inside it instead, and the UI file would stay missing.
void Fill_Working_Dir(const char *examples, const char *work_dir)
{
    fprintf(stderr, "velkador: copying the missing example files into: %s\n", work_dir);
    DIR *dir = opendir(examples);
    if (dir == nullptr) {
        perror(examples);
        return;  // building the window then reports the missing UI file
    }
    for (const struct dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char src[PATH_BUF_LEN];
        char dest[PATH_BUF_LEN];
        Strlcpy(src, examples, sizeof(src));
        Strlcat(src, "/", sizeof(src));
        Strlcat(src, entry->d_name, sizeof(src));
        Strlcpy(dest, work_dir, sizeof(dest));
        Strlcat(dest, "/", sizeof(dest));
        Strlcat(dest, entry->d_name, sizeof(dest));
        if (Copy_Missing_File(src, dest))
            fprintf(stderr, "velkador: copied %s\n", entry->d_name);
    }
    closedir(dir);
}

// Creates ~/.velkador from the examples installed beside the executable, or
// completes it when it exists. The copy runs cp -r directly (no shell), so
// the home path is never parsed.
void Bootstrap_Working_Dir(const char *home)
{
    fprintf(stderr, "velkador: cannot open velkador Glade GUI Description file.\n");
    perror(rc_data.ui_file);
    fprintf(stderr, "velkador: trying to create velkador config directory "
                    "from the installation prefix file tree.\n");

    char exe_path[PATH_BUF_LEN];
    ssize_t len = readlink("/proc/self/exe", exe_path, sizeof(exe_path) - 1);
    if (len <= 0) {
        fprintf(stderr, "velkador: cannot read velkador binary's location.\n");
        perror("/proc/self/exe");
        exit(-1);
    }
    exe_path[len] = '\0';

    if (static_cast<size_t>(len) <= BINARY_TAIL_LEN) {
        fprintf(stderr, "velkador: cannot create file path to examples/velkador.\n");
        exit(-1);
    }
    exe_path[static_cast<size_t>(len) - BINARY_TAIL_LEN] = '\0';

    char examples[PATH_BUF_LEN];
    Strlcpy(examples, exe_path, sizeof(examples));
    Strlcat(examples, EXAMPLES_TAIL, sizeof(examples));
    fprintf(stderr, "velkador: creating velkador config directory from: %s\n", examples);

    char work_dir[PATH_BUF_LEN];
    Strlcpy(work_dir, home, sizeof(work_dir));
    Strlcat(work_dir, WORK_DIR_TAIL, sizeof(work_dir));

    struct stat st;
    if (stat(work_dir, &st) == 0 && S_ISDIR(st.st_mode)) {
        Fill_Working_Dir(examples, work_dir);
        return;
    }

    char cp[] = "cp";
    char recursive[] = "-r";
    char *argv[] = {cp, recursive, examples, work_dir, nullptr};
    pid_t pid;
    int err = posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ);
    if (err != 0) {
        errno = err;
        fprintf(stderr, "velkador: cannot create velkador's working directory.\n");
        perror(examples);
        exit(-1);
    }
    // The copy's own outcome is not judged here: if the UI file is still
    // missing, building the window reports it.
    int status;
    while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
}

bool Is_Directory(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void Select_Message_Locale(void)
{
    // glibc ignores LANGUAGE while the messages locale is "C", which is what
    // a session without LC_ALL, LC_MESSAGES and LANG gets (a fresh system, a
    // container, a remote login). C.UTF-8 is built into glibc and lets
    // LANGUAGE choose; an explicit C or POSIX locale is left alone.
    const char *language = getenv("LANGUAGE");
    if (language == nullptr || language[0] == '\0')
        return;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = getenv(name);
        if (value != nullptr && value[0] != '\0')
            return;
    }
    const char *current = setlocale(LC_MESSAGES, nullptr);
    if (current != nullptr && (strcmp(current, "C") == 0 || strcmp(current, "POSIX") == 0))
        setlocale(LC_MESSAGES, "C.UTF-8");
}

const char *Locale_Dir(void)
{
    // Like the examples, the catalogues are looked for beside the running
    // program first, so that an installed tree works wherever it was put;
    // then in a build tree (locale/ beside the program); then where the
    // build was configured to install them.
    static char dir[PATH_BUF_LEN];
    char exe_dir[PATH_BUF_LEN];
    ssize_t len = readlink("/proc/self/exe", exe_dir, sizeof(exe_dir) - 1);
    if (len > 0) {
        exe_dir[len] = '\0';
        char *slash = strrchr(exe_dir, '/');
        if (slash != nullptr) {
            *slash = '\0';
            for (const char *tail : {"/" VELKADOR_BIN_TO_LOCALEDIR, "/locale"}) {
                Strlcpy(dir, exe_dir, sizeof(dir));
                Strlcat(dir, tail, sizeof(dir));
                if (Is_Directory(dir))
                    return dir;
            }
        }
    }
    return VELKADOR_LOCALEDIR;
}

const char *Home_Directory(void)
{
    // An empty HOME would put the working directory at the root.
    const char *home = getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    const struct passwd *pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return nullptr;
}

void Usage(void)
{
    fprintf(stderr, "%s\n", _("Usage: velkador [-hv]"));
    fprintf(stderr, "%s\n", _("       -h: Print this usage information and exit"));
    fprintf(stderr, "%s\n", _("       -v: Print version number and exit"));
}

void Cleanup(void)
{
    Close_Tcvr_Serial();
    Close_PCM_Handle();
    Close_Mixer_Handle();
}

// Reached directly only by the fault signals, and by SIGINT/SIGTERM before
// the main loop takes them over: async-signal-safe work only. The kernel
// releases the sound device with the process; the serial port is put back
// and an FT847 gets its CAT-off.
void Signal_Handler(int signum)
{
    Emergency_Close_Tcvr_Serial();
    Write_All(STDERR_FILENO, "\n", 1);
    const Signal_Message *m = Find_Signal_Message(signum);
    if (m != nullptr) {
        Write_All(STDERR_FILENO, m->translated, m->length);
        Write_All(STDERR_FILENO, "\n", 1);
    }
    _exit(signum);
}

GtkWidget *Build_Main_Window(void)
{
    GtkWidget *main_window = create_main_window(&main_builder);
    gtk_window_set_title(GTK_WINDOW(main_window), VERSION_LINE);

    GtkWidget *rx_textview = Builder_Get_Object(main_builder, "rx_textview");
    rx_text_buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(rx_textview));
    rx_scrolledwindow = Builder_Get_Object(main_builder, "rx_scrolledwindow");
    scope = Builder_Get_Object(main_builder, "scope_drawingarea");
    waterfall = Builder_Get_Object(main_builder, "waterfall_drawingarea");
    scope_label = Builder_Get_Object(main_builder, "scope_label");
    receiver_combobox = Builder_Get_Object(main_builder, "receiver_combobox");
    frequency = Builder_Get_Object(main_builder, "frequency_spinbutton");
    speed = Builder_Get_Object(main_builder, "wpm_spinbutton");
    squelch = Builder_Get_Object(main_builder, "squelch_spinbutton");
    ratio = Builder_Get_Object(main_builder, "ratio_spinbutton");

    rc_data.det_squelch = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(squelch));
    rc_data.det_ratio = gtk_spin_button_get_value(GTK_SPIN_BUTTON(ratio));
    Set_Flag(DISPLAY_SIGNAL);
    rc_data.unit_elem = 15;
    rc_data.rx_freq = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(frequency));

    gtk_widget_show(main_window);
    return main_window;
}

int Velkador_Main(int argc, char *argv[])
{
    Translate_Signal_Messages(false);
    Install_Signal_Handlers();

    // Without a display the options still work; the window then cannot.
    bool have_display = gtk_init_check(&argc, &argv);
    Select_Message_Locale();
    bindtextdomain(PACKAGE, Locale_Dir());
    bind_textdomain_codeset(PACKAGE, "UTF-8");
    Translate_Signal_Messages(true);
    g_unix_signal_add(SIGINT, Quit_Signal, GINT_TO_POINTER(SIGINT));
    g_unix_signal_add(SIGTERM, Quit_Signal, GINT_TO_POINTER(SIGTERM));

    switch (getopt(argc, argv, "hv")) {
    case -1:
        break;
    case 'v':
        puts(VERSION_LINE);
        exit(0);
    case 'h':
        Usage();
        exit(0);
    default:
        Usage();
        exit(-1);
    }

    if (!have_display) {
        fprintf(stderr, "velkador: cannot open the display\n");
        exit(-1);
    }

    const char *home = Home_Directory();
    if (home == nullptr) {
        fprintf(stderr, "velkador: cannot find the home directory: "
                        "HOME is not set and the user has no password entry\n");
        exit(-1);
    }

    Strlcpy(rc_data.ui_file, home, sizeof(rc_data.ui_file));
    Strlcat(rc_data.ui_file, UI_FILE_TAIL, sizeof(rc_data.ui_file));

    FILE *fp = fopen(rc_data.ui_file, "r");
    if (fp != nullptr)
        fclose(fp);
    else
        Bootstrap_Working_Dir(home);

    Build_Main_Window();
    g_idle_add(Load_Config, nullptr);
    gtk_main();
    return 0;
}
