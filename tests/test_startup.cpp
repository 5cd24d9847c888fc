// tests/test_startup.cpp - the real program as a process: options, the first
// start that copies the installed examples into a fresh home, a missing UI
// file, the home directory from the password database, and the signals.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/gtk_env.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

constexpr int RUN_MS = 30000;     // any one run of the program, generously
constexpr int WINDOW_MS = 30000;  // until the main window is on screen

const std::string USAGE = "Usage: velkador [-hv]\n"
                          "       -h: Print this usage information and exit\n"
                          "       -v: Print version number and exit\n";

const char *const MAIN_WINDOW_IDS[] = {
    "freq_adjustment", "level_adjustment", "ratio_adjustment", "wpm_adjustment",
    "main_window", "rx_scrolledwindow", "rx_textview", "scope_drawingarea",
    "scope_label", "receive_togglebutton", "frequency_spinbutton", "bandwidth_combobox",
    "clear_button", "receiver_combobox", "auto_checkbutton", "wpm_spinbutton",
    "signal_radiobutton", "level_radiobutton", "ratio_radiobutton", "stop_radiobutton",
    "squelch_spinbutton", "ratio_spinbutton", "waterfall_drawingarea"};

// The program's environment: the test's own, untranslated, no accessibility
// bus (absent under Xvfb, and noisy), and the given home.
std::vector<std::string> Program_Env(const std::string &home)
{
    std::vector<std::string> env = Current_Environment();
    Set_Env(env, "LC_ALL", "C");
    Unset_Env(env, "LANGUAGE");
    Set_Env(env, "NO_AT_BRIDGE", "1");
    Set_Env(env, "HOME", home);
    return env;
}

bool Have_Display(void)
{
    const char *display = getenv("DISPLAY");
    return display != nullptr && display[0] != '\0';
}

#define REQUIRE_X_DISPLAY()                                              \
    do {                                                                 \
        if (!Have_Display())                                             \
            GTEST_SKIP() << "DISPLAY is not set (run under xvfb-run -a)"; \
    } while (0)

bool Ends_With(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Real_Path(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// What a normal start must never write: handler or widget trouble.
void Expect_No_Gtk_Complaints(const std::string &err)
{
    EXPECT_EQ(err.find("Could not find signal handler"), std::string::npos) << err;
    EXPECT_EQ(err.find("-CRITICAL"), std::string::npos) << err;
    EXPECT_EQ(err.find("-WARNING"), std::string::npos) << err;
}

// Sends signum to a program whose window is up and checks how it ends.
void Expect_Signal_Exit(Child_Process &child, int signum, const std::string &message)
{
    Signal_Process(child, signum);
    ASSERT_TRUE(Wait_Process(child, RUN_MS)) << "still running after signal " << signum;
    Process_Result r = Result_Of(child);
    EXPECT_EQ(r.term_signal, 0) << "killed by the signal instead of handling it";
    EXPECT_EQ(r.exit_status, signum);
    EXPECT_TRUE(Ends_With(r.err, "\n" + message + "\n")) << r.err;
}

// A home prepared with the UI file of the source tree and the example
// configuration, so the program starts without the first-start copy.
std::string Prepared_Home(const char *tag)
{
    std::string home = Make_Temp_Dir(tag);
    fs::create_directory(home + "/.velkador");
    fs::copy_file(VELKADOR_SOURCE_DIR "/data/velkador.glade", home + "/.velkador/velkador.glade");
    fs::copy_file(VELKADOR_SOURCE_DIR "/data/velkadorrc.example", home + "/.velkador/velkadorrc");
    return home;
}

} // namespace

TEST(Options, VersionHelpAndUnknownOptions)
{
    std::string home = Make_Temp_Dir("options");
    const std::string program = VELKADOR_PROGRAM;
    struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"-v"}, 0, "velkador 3.6.7\n", ""},
        {{"-h"}, 0, "", USAGE},
        {{"-x"}, 255, "", program + ": invalid option -- 'x'\n" + USAGE},
        {{"-h", "-v"}, 0, "", USAGE},
        {{"-v", "-h"}, 0, "velkador 3.6.7\n", ""},
        {{"-v", "-x", "stray"}, 0, "velkador 3.6.7\n", ""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string what = argv.size() > 1 ? argv[1] + (argv.size() > 2 ? " " + argv[2] : "") : "";
        Process_Result r = Run_Process(argv, Program_Env(home), RUN_MS);
        ASSERT_TRUE(r.ended) << what;
        EXPECT_EQ(r.exit_status, c.status) << what;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.err) << what;
    }
    // Options alone never touch the home directory.
    EXPECT_FALSE(fs::exists(home + "/.velkador"));
}

TEST(Options, WorkWithoutADisplay)
{
    std::string home = Make_Temp_Dir("nodisplay");
    std::vector<std::string> env = Program_Env(home);
    Unset_Env(env, "DISPLAY");
    Unset_Env(env, "WAYLAND_DISPLAY");

    Process_Result r = Run_Process({VELKADOR_PROGRAM, "-v"}, env, RUN_MS);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "velkador 3.6.7\n");
    EXPECT_EQ(r.err, "");

    r = Run_Process({VELKADOR_PROGRAM, "-h"}, env, RUN_MS);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, USAGE);

    // Without an option the window is needed, and cannot be had.
    r = Run_Process({VELKADOR_PROGRAM}, env, RUN_MS);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, "velkador: cannot open the display\n");
    EXPECT_FALSE(fs::exists(home + "/.velkador"));
}

// First start from a staged install: the examples are copied into the home,
// whatever characters its path holds and however long it is.
class FirstStart : public ::testing::Test {
protected:
    std::string stage;    // install prefix
    std::string scratch;  // the program's working directory; must stay empty

    void SetUp() override
    {
        REQUIRE_X_DISPLAY();
        stage = Real_Path(Make_Temp_Dir("stage"));
        std::string log;
        ASSERT_TRUE(Stage_Install(VELKADOR_CMAKE_COMMAND, stage, &log)) << log;
        scratch = Make_Temp_Dir("cwd");
    }

    void Expect_Copied_And_Started(const std::string &home)
    {
        ASSERT_TRUE(fs::create_directories(home)) << home;
        Child_Process child;
        ASSERT_TRUE(Start_Process(child, {stage + "/bin/velkador"}, Program_Env(home), scratch))
            << child.err;
        ASSERT_TRUE(Wait_For_Window(child, WINDOW_MS)) << "no window; stderr:\n" << child.err;

        const std::string examples = stage + "/share/examples/velkador";
        EXPECT_EQ(child.err.rfind(
                      "velkador: cannot open velkador Glade GUI Description file.\n" + home +
                          "/.velkador/velkador.glade: No such file or directory\n"
                          "velkador: trying to create velkador config directory from the "
                          "installation prefix file tree.\n"
                          "velkador: creating velkador config directory from: " + examples + "\n",
                      0),
                  0u)
            << child.err;
        Expect_No_Gtk_Complaints(child.err);
        for (const char *name : {"velkador.glade", "velkadorrc", "velkadorrc.example"}) {
            std::string copy = home + "/.velkador/" + name;
            ASSERT_TRUE(fs::exists(copy)) << copy;
            EXPECT_EQ(Read_File(copy), Read_File(examples + "/" + name)) << name;
        }
        EXPECT_TRUE(fs::is_empty(scratch)) << "something ran in the working directory";

        Expect_Signal_Exit(child, SIGTERM, "velkador: Termination Request received");
    }
};

TEST_F(FirstStart, CopiesTheExamplesAndLaterStartsFindThem)
{
    std::string home = Make_Temp_Dir("home") + "/user";
    Expect_Copied_And_Started(home);

    // The copy is found from now on: no bootstrap, nothing on stderr.
    Child_Process child;
    ASSERT_TRUE(Start_Process(child, {stage + "/bin/velkador"}, Program_Env(home), scratch)) << child.err;
    ASSERT_TRUE(Wait_For_Window(child, WINDOW_MS)) << child.err;
    EXPECT_EQ(child.err.find("velkador: cannot open"), std::string::npos) << child.err;
    Expect_No_Gtk_Complaints(child.err);
    Expect_Signal_Exit(child, SIGTERM, "velkador: Termination Request received");
}

// A working directory made by hand, holding only the user's configuration:
// the missing examples go into it (not into a subdirectory), the user's file
// stays as it was, and the program starts.
TEST_F(FirstStart, ExistingWorkingDirectoryGetsOnlyTheMissingFiles)
{
    std::string home = Make_Temp_Dir("home") + "/a b;touch sh1";
    const std::string work = home + "/.velkador";
    ASSERT_TRUE(fs::create_directories(work));
    const std::string own_rc = Read_File(VELKADOR_SOURCE_DIR "/data/velkadorrc.example") + "# mine\n";
    Write_Text_File(work + "/velkadorrc", own_rc);

    Child_Process child;
    ASSERT_TRUE(Start_Process(child, {stage + "/bin/velkador"}, Program_Env(home), scratch)) << child.err;
    ASSERT_TRUE(Wait_For_Window(child, WINDOW_MS)) << child.err;
    const std::string examples = stage + "/share/examples/velkador";
    EXPECT_NE(child.err.find("velkador: copying the missing example files into: " + work + "\n"),
              std::string::npos)
        << child.err;
    Expect_No_Gtk_Complaints(child.err);
    EXPECT_EQ(Read_File(work + "/velkadorrc"), own_rc);
    for (const char *name : {"velkador.glade", "velkadorrc.example"})
        EXPECT_EQ(Read_File(work + "/" + name), Read_File(examples + "/" + name)) << name;
    EXPECT_FALSE(fs::exists(work + "/velkador")) << "no copy of the examples directory inside";
    EXPECT_TRUE(fs::is_empty(scratch));
    Expect_Signal_Exit(child, SIGTERM, "velkador: Termination Request received");

    Child_Process again;
    ASSERT_TRUE(Start_Process(again, {stage + "/bin/velkador"}, Program_Env(home), scratch)) << again.err;
    ASSERT_TRUE(Wait_For_Window(again, WINDOW_MS)) << again.err;
    EXPECT_EQ(again.err.find("velkador: cannot open"), std::string::npos) << again.err;
    Expect_Signal_Exit(again, SIGTERM, "velkador: Termination Request received");
}

TEST_F(FirstStart, HomeWithSpacesAndShellCharacters)
{
    // Run through a shell, this path would create files in the working
    // directory; it must only ever be a path.
    std::string home = Make_Temp_Dir("home") + "/a b;touch sh1 & touch sh2 $(touch sh3) `touch sh4` $HOME";
    Expect_Copied_And_Started(home);
}

TEST_F(FirstStart, LongHomeDirectory)
{
    std::string home = Make_Temp_Dir("home") + "/" + std::string(60, 'l') + "/" + std::string(100, 'm');
    ASSERT_GT(home.size() + strlen("/.velkador/velkador.glade"), 200u);
    Expect_Copied_And_Started(home);
}

TEST_F(FirstStart, MissingExamplesEndWithTheBuilderMessage)
{
    fs::remove_all(stage + "/share/examples/velkador");
    std::string home = Make_Temp_Dir("home");
    Process_Result r = Run_Process({stage + "/bin/velkador"}, Program_Env(home), RUN_MS, scratch);
    ASSERT_TRUE(r.ended) << r.err;
    EXPECT_EQ(r.exit_status, 255);

    std::string ids = "Velkador: Listing Object Ids:\n";
    for (const char *id : MAIN_WINDOW_IDS)
        ids += std::string(id) + "\n";
    EXPECT_TRUE(Ends_With(r.err, ids)) << r.err;
    size_t builder = r.err.find("Velkador: failed to add objects to builder:\n");
    ASSERT_NE(builder, std::string::npos) << r.err;
    // The builder's own reason names the UI file.
    EXPECT_NE(r.err.find(home + "/.velkador/velkador.glade", builder), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("velkador: creating velkador config directory from: " + stage +
                         "/share/examples/velkador\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::is_empty(scratch));
}

TEST_F(FirstStart, HomeUnsetOrEmptyUsesThePasswordEntry)
{
    const struct passwd *pw = getpwuid(getuid());
    if (pw == nullptr || pw->pw_dir == nullptr)
        GTEST_SKIP() << "this user has no password entry";
    const std::string pw_home = pw->pw_dir;
    const std::string ui_file = pw_home + "/.velkador/velkador.glade";

    // Without examples the first-start copy cannot write into the real home.
    fs::remove_all(stage + "/share/examples/velkador");
    for (bool empty : {false, true}) {
        std::vector<std::string> env = Program_Env("");
        if (!empty)
            Unset_Env(env, "HOME");
        Child_Process child;
        ASSERT_TRUE(Start_Process(child, {stage + "/bin/velkador"}, env, scratch)) << child.err;

        if (access(ui_file.c_str(), R_OK) == 0) {
            // This account already has a working directory: the program starts from it.
            ASSERT_TRUE(Wait_For_Window(child, WINDOW_MS)) << child.err;
            Expect_Signal_Exit(child, SIGTERM, "velkador: Termination Request received");
        } else {
            ASSERT_TRUE(Wait_Process(child, RUN_MS));
            Process_Result r = Result_Of(child);
            EXPECT_EQ(r.exit_status, 255) << (empty ? "HOME empty" : "HOME unset");
            EXPECT_NE(r.err.find("velkador: cannot open velkador Glade GUI Description file.\n" + ui_file +
                                 ": No such file or directory\n"),
                      std::string::npos)
                << (empty ? "HOME empty\n" : "HOME unset\n") << r.err;
        }
    }
}

struct Signal_Case {
    int signum;
    const char *message;
};

void PrintTo(const Signal_Case &c, std::ostream *os)
{
    *os << "SIG" << sigabbrev_np(c.signum);
}

class Signals : public ::testing::TestWithParam<Signal_Case> {};

TEST_P(Signals, EndTheProgramWithTheirNumberAndMessage)
{
    REQUIRE_X_DISPLAY();
    const Signal_Case &c = GetParam();
    std::string home = Prepared_Home("signal");
    Child_Process child;
    ASSERT_TRUE(Start_Process(child, {VELKADOR_PROGRAM}, Program_Env(home))) << child.err;
    ASSERT_TRUE(Wait_For_Window(child, WINDOW_MS)) << child.err;
    Expect_No_Gtk_Complaints(child.err);
    Expect_Signal_Exit(child, c.signum, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Handled, Signals,
    ::testing::Values(Signal_Case{SIGTERM, "velkador: Termination Request received"},
                      Signal_Case{SIGINT, "velkador: Exiting via User Interrupt"},
                      Signal_Case{SIGSEGV, "velkador: Segmentation Fault"},
                      Signal_Case{SIGABRT, "velkador: Abort Signal received"},
                      Signal_Case{SIGFPE, "velkador: Floating Point Exception"}),
    [](const ::testing::TestParamInfo<Signal_Case> &info) {
        return std::string(sigabbrev_np(info.param.signum));
    });
