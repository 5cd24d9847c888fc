// tests/test_install.cpp - `cmake --install` puts the program and the
// examples that a first start copies where the program looks for them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/gtk_env.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

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
