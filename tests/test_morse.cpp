// tests/test_morse.cpp - the decoder's state machine driven fragment by
// fragment through MARK_TONE / SPACE_TONE, and its Morse table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/shared.h"
#include "decoder/morse.h"

namespace {

struct Output {
    int64_t fragment;  // fragment number (from 1) that yielded the text
    std::string text;
};

struct Feed {
    int64_t fragments = 0;
    std::vector<Output> out;

    // n fragments of mark (true) or space (false), as the detector publishes them.
    Feed &Run(bool mark, int n)
    {
        for (int i = 0; i < n; i++) {
            Set_Flag(mark ? MARK_TONE : SPACE_TONE);
            Clear_Flag(mark ? SPACE_TONE : MARK_TONE);
            char buf[5] = "";
            Decode_Fragment(buf);
            fragments++;
            if (buf[0] != '\0')
                out.push_back({fragments, buf});
        }
        return *this;
    }
    Feed &Mark(int n) { return Run(true, n); }
    Feed &Space(int n) { return Run(false, n); }

    // Elements of one character at unit u ("." one unit, "-" three), one
    // unit between them, followed by a gap of gap_units.
    Feed &Send(const std::string &pattern, int u, int gap_units = 3)
    {
        for (size_t i = 0; i < pattern.size(); i++) {
            if (i > 0)
                Space(u);
            Mark(pattern[i] == '.' ? u : 3 * u);
        }
        return Space(gap_units * u);
    }

    std::string Text() const
    {
        std::string t;
        for (const Output &o : out)
            t += o.text;
        return t;
    }
};

class Decoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        rc_data.tone_freq = 800;
        rc_data.unit_elem = 24;
        rc_data.min_unit = 8;
        rc_data.max_unit = 80;
        Feed().Space(1);  // leave STATE_INIT as the receive loop's first step does
    }
};

} // namespace

TEST_F(Decoder, FirstSilentStepIdlesWithoutOutput)
{
    EXPECT_EQ(Decoder_State(), STATE_LONG_SPACE);
}

TEST_F(Decoder, DashFromTwoUnitsDroppedFromEight)
{
    const struct { int mark; const char *text; } cases[] = {
        {47, "E"}, {48, "T"}, {191, "T"}, {192, ""}, {400, ""}};
    for (const auto &c : cases) {
        Feed f;
        f.Mark(c.mark).Space(2 * 24);
        EXPECT_EQ(f.Text(), c.text) << "mark of " << c.mark << " fragments";
        f.Space(10 * 24);  // back to idle for the next case
    }
}

TEST_F(Decoder, LongMarkDropsCharacterInProgress)
{
    Feed f;
    f.Mark(24).Space(24).Mark(24).Space(24).Mark(192);
    EXPECT_EQ(Decoder_State(), STATE_LONG_MARK);
    f.Space(1);
    EXPECT_EQ(Decoder_State(), STATE_LONG_SPACE);
    f.Space(20 * 24).Send("-", 24);
    EXPECT_EQ(f.Text(), "T") << "the dots before the long mark must not reappear";
}

TEST_F(Decoder, CharacterOnTheFragmentTheGapReachesTwoUnits)
{
    Feed f;
    f.Mark(24).Space(47);
    EXPECT_TRUE(f.out.empty());
    f.Space(1);
    ASSERT_EQ(f.out.size(), 1u);
    EXPECT_EQ(f.out[0].text, "E");
    EXPECT_EQ(f.out[0].fragment, 24 + 48);
}

TEST_F(Decoder, WordGapGivesExactlyOneSpace)
{
    // Five units of gap then a mark: the space comes with the mark.
    Feed a;
    a.Mark(24).Space(5 * 24);
    EXPECT_EQ(a.Text(), "E");
    a.Mark(1);
    EXPECT_EQ(a.Text(), "E ");
    EXPECT_EQ(a.out.back().fragment, 24 + 5 * 24 + 1);
    a.Mark(23).Space(48);
    EXPECT_EQ(a.Text(), "E E");

    // Four units and a bit: no word gap.
    Feed().Space(10 * 24);
    Feed b;
    b.Space(10 * 24).Mark(24).Space(5 * 24 - 1).Mark(24).Space(48);
    EXPECT_EQ(b.Text(), "EE");

    // Silence: one space as it reaches seven units, then nothing more.
    Feed().Space(10 * 24);
    Feed c;
    c.Space(10 * 24).Mark(24).Space(7 * 24 - 1);
    EXPECT_EQ(c.Text(), "E");
    c.Space(1);
    EXPECT_EQ(c.Text(), "E ");
    EXPECT_EQ(c.out.back().fragment, 10 * 24 + 24 + 7 * 24);
    c.Space(100 * 24).Mark(24).Space(48);
    EXPECT_EQ(c.Text(), "E E");
}

TEST_F(Decoder, ShortGapInMarkEndsTheElement)
{
    Feed f;
    f.Mark(24).Space(11).Mark(24).Space(48);
    // The first mark is counted with the fragment that brought the tone back.
    EXPECT_EQ(f.Text(), "I");
}

TEST_F(Decoder, TableRowsAndFallbacks)
{
    const struct { const char *pattern; const char *text; } cases[] = {
        {".----.", "'"}, {".-..-.", "\""}, {".......", "<!!>"}, {"........", "*"},
        {"...-.-", "<SK>"}, {".-.-", "\xC3\x84"}, {"...--..", "\xC3\x9F"}, {"..--..--", "*"}};
    for (const auto &c : cases) {
        Feed f;
        f.Send(c.pattern, 24).Space(10 * 24);
        EXPECT_EQ(f.Text(), std::string(c.text) + " ") << c.pattern;
    }
}

TEST_F(Decoder, OverlongCharacterPrintsFallback)
{
    // 32 elements would push the leading 1 out of 32 bits and leave the
    // code of "T"; 31 dots fill all 32 bits.
    const std::string cases[] = {std::string(30, '-') + ".-", std::string(31, '.'),
                                 std::string(40, '.') + "-"};
    rc_data.unit_elem = 2;
    for (const std::string &pattern : cases) {
        Feed f;
        f.Send(pattern, 2).Space(10 * 2);
        EXPECT_EQ(f.Text(), "* ") << pattern.size() << " elements";
    }
}

TEST_F(Decoder, SpeedStatisticsGatheredPerCharacter)
{
    // Inside a character: marks and the spaces that end with a new element.
    Feed f;
    f.Mark(24).Space(24).Mark(72).Space(30).Mark(20).Space(48);
    EXPECT_EQ(mark_frags, 24 + 72 + 20);
    EXPECT_EQ(mark_units, 1 + 3 + 1);
    EXPECT_EQ(space_frags, 24 + 30);
    EXPECT_EQ(space_units, 2);

    // A new character after three units: Track_Speed runs and clears them.
    f.Space(24).Mark(24);
    EXPECT_EQ(mark_frags + mark_units + space_frags + space_units, 0);

    // After seven units of silence it does not run: statistics add up.
    f.Space(48 + 7 * 24).Mark(24).Space(48);
    EXPECT_EQ(mark_frags, 24 + 24);
    EXPECT_EQ(mark_units, 2);
}

TEST(MorseTable, LookupRows)
{
    EXPECT_STREQ(Morse_Lookup(0x06), "A");
    EXPECT_STREQ(Morse_Lookup(0x20), "0");
    EXPECT_STREQ(Morse_Lookup(0xBA), "<BK>");
    EXPECT_STREQ(Morse_Lookup(0x01), " ");
    EXPECT_STREQ(Morse_Lookup(0x1FF), "*");
    EXPECT_STREQ(Morse_Lookup(0x100 | 0x06), "*") << "codes compare whole, not as a byte";
}
