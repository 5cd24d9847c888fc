// tests/test_translations.cpp - the catalogues are complete for the current
// texts, and the real window speaks German: its labels, the error dialog,
// the rig selector (whose handler must not depend on the entries' language)
// and the configuration file's numbers under a German locale.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "support/gtk_env.h"
#include "support/process.h"
#include "ui/interface.h"

namespace fs = std::filesystem;

namespace {

// Thirteen values that load; tests change one.
std::vector<std::string> Valid_Config(void)
{
    return {"velkadortest", "48000", "FRONT_LEFT", "Capture", "--", "50", "40", "10", "20",
            "/dev/null",    "NONE",  "0",          "800"};
}

std::string Joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &l : lines)
        text += l + "\n";
    return text;
}

std::string Label_Of(const char *id)
{
    GtkWidget *w = Builder_Get_Object(main_builder, id);
    if (GTK_IS_LABEL(w))
        return gtk_label_get_label(GTK_LABEL(w));
    return gtk_button_get_label(GTK_BUTTON(w));
}

// The locale as the program sets it, with the build tree's catalogues.
// Call before anything initialises GTK: the environment decides the locale.
bool Start_Gtk_With_Catalogues(void)
{
    if (!Gtk_Test_Init())
        return false;
    Select_Message_Locale();
    bindtextdomain(PACKAGE, VELKADOR_BINARY_DIR "/locale");
    bind_textdomain_codeset(PACKAGE, "UTF-8");
    return true;
}

// Writes ~/.velkador/velkadorrc in a fresh home and builds the window.
void Build_Window_With_Config(const std::string &config)
{
    std::string home = Make_Temp_Dir("german");
    ASSERT_EQ(mkdir((home + "/.velkador").c_str(), 0755), 0);
    setenv("HOME", home.c_str(), 1);
    Write_Text_File(home + "/.velkador/velkadorrc", config);
    Build_Test_Window();
    ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
}

} // namespace

// After the template is regenerated (other branches add texts), this fails
// until every language has translated them.
TEST(Catalogue, EveryLanguageTranslatesEveryCurrentText)
{
    const std::string msgmerge = Find_Program("msgmerge");
    const std::string msgfmt = Find_Program("msgfmt");
    ASSERT_FALSE(msgmerge.empty() || msgfmt.empty()) << "gettext is missing: run tools/install-deps";

    const std::string linguas = Read_File(VELKADOR_SOURCE_DIR "/po/LINGUAS");
    const std::string merged_dir = Make_Temp_Dir("catalogue");
    int languages = 0;
    for (const auto &entry : fs::directory_iterator(VELKADOR_SOURCE_DIR "/po")) {
        if (entry.path().extension() != ".po")
            continue;
        const std::string lang = entry.path().stem().string();
        const std::string po = entry.path().string();
        languages++;
        EXPECT_NE(("\n" + linguas + "\n").find("\n" + lang + "\n"), std::string::npos)
            << lang << " is not in po/LINGUAS, so it is neither built nor installed";

        const std::string merged = merged_dir + "/" + lang + ".po";
        Process_Result r = Run_Process({msgmerge, "--quiet", "--no-fuzzy-matching", "-o", merged, po,
                                        VELKADOR_SOURCE_DIR "/po/velkador.pot"},
                                       Current_Environment(), 60000);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        // --check: the same line breaks at both ends and the same format
        // directives as the original.
        for (const std::string &file : {po, merged}) {
            r = Run_Process({msgfmt, "--check", "--statistics", "-o", "/dev/null", file},
                            Current_Environment(), 60000);
            EXPECT_EQ(r.exit_status, 0) << file << "\n" << r.err;
            const size_t digits = r.err.find_first_not_of("0123456789");
            const std::string rest = digits == std::string::npos ? "" : r.err.substr(digits);
            EXPECT_TRUE(digits > 0 && (rest == " translated message.\n" || rest == " translated messages.\n"))
                << file << ": " << r.err;
        }
    }
    EXPECT_GE(languages, 1);
}

TEST(GermanWindow, LabelsDialogAndRigSelectorUnderLanguageDe)
{
    // What a fresh session has: no locale variable, only LANGUAGE.
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        unsetenv(name);
    setenv("LANGUAGE", "de", 1);
    if (!Start_Gtk_With_Catalogues())
        GTEST_SKIP() << "no display (run under xvfb-run)";

    // Nine values: the file ends where the serial port should be.
    std::vector<std::string> lines = Valid_Config();
    lines.resize(9);
    Build_Window_With_Config(Joined(lines));

    EXPECT_EQ(Label_Of("rx_frame_label"), "Empfangener Text");
    EXPECT_EQ(Label_Of("receive_togglebutton"), "_Empfang");
    EXPECT_EQ(Label_Of("wpm_label"), "Tempo (WpM)");
    EXPECT_EQ(Label_Of("squelch_label"), "Rauschsperre");
    EXPECT_EQ(Label_Of("scope_label"), "Signaldetektor");
    gchar *rig = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(receiver_combobox));
    EXPECT_STREQ(rig, "-- KEINES --");
    g_free(rig);

    EXPECT_EQ(Load_Config(nullptr), FALSE);
    EXPECT_EQ(Error_Dialog_Text(), "Fehler beim Lesen von „Serielle CAT-Schnittstelle“\n"
                                   "Vorzeitiges Dateiende (EOF)");
    ASSERT_NE(error_dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(error_dialog)), "velkador: Fehler");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(Find_Named(error_dialog, "error_quit_button"))),
                 "_Beenden");

    // The translated "no rig" entry must still mean no rig.
    gtk_combo_box_set_active(GTK_COMBO_BOX(receiver_combobox), 3);
    EXPECT_EQ(rc_data.tcvr_type, TCVR_K2);
    EXPECT_TRUE(isFlagSet(ENABLE_CAT));
    gtk_combo_box_set_active(GTK_COMBO_BOX(receiver_combobox), 0);
    EXPECT_EQ(rc_data.tcvr_type, TCVR_NONE);
    EXPECT_TRUE(isFlagClear(ENABLE_CAT));

    // So must the decoder's entries.
    GtkComboBox *decoder = GTK_COMBO_BOX(Builder_Get_Object(main_builder, "decoder_combobox"));
    gchar *classic = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(decoder));
    EXPECT_STREQ(classic, "Klassisch");
    g_free(classic);
    gtk_combo_box_set_active(decoder, 1);
    EXPECT_FALSE(gtk_widget_get_sensitive(squelch));
    gtk_combo_box_set_active(decoder, 0);
    EXPECT_TRUE(gtk_widget_get_sensitive(squelch));
}

// Under a German locale the C library reads "100.5" as 100; the file's
// numbers are read with a point whatever the locale.
TEST(GermanWindow, CorrectionFactorKeepsItsPointUnderAGermanLocale)
{
    const std::string localedef = Find_Program("localedef");
    ASSERT_FALSE(localedef.empty()) << "localedef is missing: run tools/install-deps (locales)";
    const std::string locales = Make_Temp_Dir("locales");
    Process_Result r = Run_Process({localedef, "-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"},
                                   Current_Environment(), 120000);
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;

    setenv("LOCPATH", locales.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    unsetenv("LANGUAGE");
    if (!Start_Gtk_With_Catalogues())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    ASSERT_STREQ(localeconv()->decimal_point, ",") << "the German locale did not take";

    std::vector<std::string> lines = Valid_Config();
    lines[11] = "100.5";
    Build_Window_With_Config(Joined(lines));
    EXPECT_EQ(Label_Of("receive_togglebutton"), "_Empfang");
    EXPECT_EQ(Load_Config(nullptr), FALSE);
    EXPECT_EQ(Error_Dialog_Text(), "Fehler beim Lesen des Frequenzkorrekturfaktors\n"
                                   "Frequenzkorrekturfaktor scheint zu groß\n"
                                   "velkador beenden und velkadorrc korrigieren");
    EXPECT_TRUE(isFlagClear(RCCONFIG_OK));
}
