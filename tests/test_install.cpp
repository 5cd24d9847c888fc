// tests/test_install.cpp - `cmake --install` puts the program, the examples
// that a first start copies, the catalogues, the desktop files and the man
// pages where the program, desktops and man look for them, and the
// validators of those formats accept what was installed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/gtk_env.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

// A tool the suite needs (tools/install-deps installs it): its absence is a
// failure, not a reason to skip.
std::string Required_Tool(const char *name)
{
    std::string path = Find_Program(name);
    EXPECT_FALSE(path.empty()) << name << " is missing: run tools/install-deps";
    return path;
}

// Runs a checker and expects it to pass with nothing on standard error.
void Expect_Clean_Run(const std::vector<std::string> &argv)
{
    if (argv[0].empty())
        return;
    Process_Result r = Run_Process(argv, Current_Environment(), 60000);
    std::string what = argv[0] + " " + argv.back();
    EXPECT_EQ(r.exit_status, 0) << what << "\n" << r.out << r.err;
    EXPECT_EQ(r.err, "") << what;
}

std::vector<std::string> Untranslated_Environment(const std::string &home)
{
    std::vector<std::string> env = Current_Environment();
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"})
        Unset_Env(env, name);
    Set_Env(env, "HOME", home);
    return env;
}

} // namespace

TEST(Install, StagesTheProgramAndTheExamples)
{
    std::string prefix = Make_Temp_Dir("install") + "/prefix with space";
    std::string log;
    ASSERT_TRUE(Stage_Install(VELKADOR_CMAKE_COMMAND, prefix, &log)) << log;

    const std::string program = prefix + "/bin/velkador";
    ASSERT_TRUE(fs::is_regular_file(program)) << log;
    EXPECT_EQ(access(program.c_str(), X_OK), 0);

    const std::string examples = prefix + "/share/examples/velkador";
    EXPECT_EQ(Read_File(examples + "/velkador.glade"), Read_File(VELKADOR_SOURCE_DIR "/data/velkador.glade"));
    EXPECT_EQ(Read_File(examples + "/velkadorrc.example"),
              Read_File(VELKADOR_SOURCE_DIR "/data/velkadorrc.example"));
    EXPECT_TRUE(fs::is_regular_file(examples + "/velkadorrc")) << "a first start needs a configuration";
    EXPECT_EQ(access((prefix + "/bin/velkador-decode").c_str(), X_OK), 0);

    // The manual page renders without a single warning.
    const std::string page = prefix + "/share/man/man1/velkador-decode.1";
    ASSERT_TRUE(fs::is_regular_file(page));
    Process_Result man = Run_Process({"groff", "-man", "-ww", "-Tutf8", page}, Current_Environment(), 30000);
    EXPECT_EQ(man.exit_status, 0);
    EXPECT_EQ(man.err, "");
    EXPECT_NE(man.out.find("decode the CW (Morse code)"), std::string::npos);

    // The staged program runs from where it was put.
    std::vector<std::string> env = Current_Environment();
    Set_Env(env, "HOME", prefix);
    Process_Result r = Run_Process({program, "-v"}, env, 30000);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "velkador 3.6.7\n");
}

TEST(Install, DesktopFilesManPagesAndCataloguesPassTheirValidators)
{
    std::string prefix = Make_Temp_Dir("install-desktop");
    std::string log;
    ASSERT_TRUE(Stage_Install(VELKADOR_CMAKE_COMMAND, prefix, &log)) << log;

    const std::string desktop = prefix + "/share/applications/velkador.desktop";
    const std::string metainfo = prefix + "/share/metainfo/velkador.metainfo.xml";
    const std::string icon = prefix + "/share/icons/hicolor/scalable/apps/velkador.svg";
    ASSERT_TRUE(fs::is_regular_file(desktop)) << log;
    ASSERT_TRUE(fs::is_regular_file(metainfo)) << log;
    ASSERT_TRUE(fs::is_regular_file(icon)) << log;
    EXPECT_TRUE(fs::is_regular_file(prefix + "/share/locale/de/LC_MESSAGES/velkador.mo")) << log;

    // The entry starts the installed program with the installed icon, in
    // German too.
    std::string entry = Read_File(desktop);
    for (const char *line : {"\nExec=velkador\n", "\nIcon=velkador\n", "\nName[de]=", "\nComment[de]="})
        EXPECT_NE(entry.find(line), std::string::npos) << line << " in\n" << entry;
    Expect_Clean_Run({Required_Tool("desktop-file-validate"), desktop});

    // The component is named like its desktop file and its window (no
    // reverse domain name: the project has no domain), which is the one
    // thing appstreamcli warns about.
    Expect_Clean_Run({Required_Tool("appstreamcli"), "validate", "--no-net",
                      "--override=cid-desktopapp-is-not-rdns=info", metainfo});
    Expect_Clean_Run({Required_Tool("appstream-util"), "validate-relax", "--nonet", metainfo});
    EXPECT_NE(Read_File(metainfo).find("<release version=\"3.6.7\""), std::string::npos);

    // The icon renders at the smallest size a menu uses.
    GError *error = nullptr;
    GdkPixbuf *small = gdk_pixbuf_new_from_file_at_size(icon.c_str(), 16, 16, &error);
    EXPECT_NE(small, nullptr) << (error != nullptr ? error->message : "");
    if (small != nullptr)
        g_object_unref(small);
    if (error != nullptr)
        g_error_free(error);

    // Every manual page of the source tree is installed and renders
    // without a warning.
    const std::string groff = Required_Tool("groff");
    int pages = 0;
    for (const auto &source : fs::directory_iterator(VELKADOR_SOURCE_DIR "/data/man")) {
        const std::string page = prefix + "/share/man/man1/" + source.path().filename().string();
        ASSERT_TRUE(fs::is_regular_file(page)) << page;
        Expect_Clean_Run({groff, "-man", "-ww", "-Tutf8", "-z", page});
        pages++;
    }
    EXPECT_GE(pages, 2);
}

TEST(Install, TheInstalledProgramSpeaksGermanWhereverItIsPut)
{
    std::string prefix = Make_Temp_Dir("install-de") + "/elsewhere";
    std::string log;
    ASSERT_TRUE(Stage_Install(VELKADOR_CMAKE_COMMAND, prefix, &log)) << log;
    const std::string program = prefix + "/bin/velkador";
    const std::string german = "Aufruf: velkador [-hv]\n"
                               "       -h: Diese Hilfe ausgeben und beenden\n"
                               "       -v: Versionsnummer ausgeben und beenden\n";

    // A fresh session sets no locale at all: LANGUAGE alone must do.
    std::vector<std::string> env = Untranslated_Environment(prefix);
    Set_Env(env, "LANGUAGE", "de");
    Process_Result r = Run_Process({program, "-h"}, env, 30000);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, german);

    Set_Env(env, "LANG", "C.UTF-8");
    r = Run_Process({program, "-h"}, env, 30000);
    EXPECT_EQ(r.err, german);

    // An explicit C locale is the operator's choice of untranslated output.
    Set_Env(env, "LC_ALL", "C");
    r = Run_Process({program, "-h"}, env, 30000);
    EXPECT_EQ(r.err.rfind("Usage: velkador [-hv]\n", 0), 0u) << r.err;
}
