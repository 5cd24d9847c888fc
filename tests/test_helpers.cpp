// tests/test_helpers.cpp - the flags word, the bounded string helpers and the
// allocation helpers, at their edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/shared.h"

namespace {

// Buffers are larger than the n handed to the helpers; the bytes from n on
// hold GUARD and must come back untouched.
constexpr char GUARD = '#';
constexpr size_t BUF_LEN = 32;

struct Copy_Case {
    const char *dest;  // string already in dest (Strlcat only)
    const char *src;
    size_t n;
    const char *expected;
};

void Expect_Guard_Intact(const char *buf, size_t n, const char *what)
{
    for (size_t i = n; i < BUF_LEN; i++)
        ASSERT_EQ(buf[i], GUARD) << what << ": byte " << i << " written past n = " << n;
}

} // namespace

TEST(Strings, StrlcpyKeepsAtMostNMinusOneCharacters)
{
    const Copy_Case cases[] = {
        {"", "0123456789", 8, "0123456"},  // cut to n - 1
        {"", "abc", 8, "abc"},             // fits
        {"", "abcdefg", 8, "abcdefg"},     // exactly n - 1
        {"", "abcdefgh", 8, "abcdefg"},    // one too many
        {"", "xyz", 1, ""},                // room for the terminator only
        {"", "", 8, ""},
    };
    for (const auto &c : cases) {
        char buf[BUF_LEN];
        memset(buf, GUARD, sizeof(buf));
        Strlcpy(buf, c.src, c.n);
        std::string what = std::string("Strlcpy \"") + c.src + "\" n=" + std::to_string(c.n);
        EXPECT_STREQ(buf, c.expected) << what;
        Expect_Guard_Intact(buf, c.n, what.c_str());
    }
}

TEST(Strings, StrlcatAppendsUntilNMinusOneCharacters)
{
    const Copy_Case cases[] = {
        {"abc", "defghij", 8, "abcdefg"},  // 3 + first 4 of 7
        {"abcdefg", "xyz", 8, "abcdefg"},  // already n - 1 long: unchanged
        {"", "0123456789", 8, "0123456"},  // empty dest: as Strlcpy
        {"ab", "cd", 8, "abcd"},
        {"", "xyz", 1, ""},
        {"abcdef", "xyz", 8, "abcdefx"},   // one place left
    };
    for (const auto &c : cases) {
        char buf[BUF_LEN];
        memset(buf, GUARD, sizeof(buf));
        memcpy(buf, c.dest, strlen(c.dest) + 1);
        Strlcat(buf, c.src, c.n);
        std::string what = std::string("Strlcat \"") + c.dest + "\" + \"" + c.src + "\" n=" +
                           std::to_string(c.n);
        EXPECT_STREQ(buf, c.expected) << what;
        Expect_Guard_Intact(buf, c.n, what.c_str());
    }
}

TEST(Strings, ZeroSizedDestinationIsNotWritten)
{
    char buf[BUF_LEN];
    memset(buf, GUARD, sizeof(buf));
    Strlcpy(buf, "abc", 0);
    Expect_Guard_Intact(buf, 0, "Strlcpy n=0");
    Strlcat(buf, "abc", 0);
    Expect_Guard_Intact(buf, 0, "Strlcat n=0");
}

TEST(Strings, StrlcatLeavesAnUnterminatedDestinationAlone)
{
    char buf[BUF_LEN];
    memset(buf, GUARD, sizeof(buf));
    memcpy(buf, "abcdefgh", 8);  // no terminator within n = 8
    Strlcat(buf, "xyz", 8);
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");
    Expect_Guard_Intact(buf, 8, "unterminated dest");
}

TEST(Flags, EmptyMaskIsBothSetAndClear)
{
    flags = 0;
    EXPECT_EQ(isFlagSet(0), 1);
    EXPECT_EQ(isFlagClear(0), 1);
    flags = DISPLAY_SIGNAL | MARK_TONE;
    EXPECT_EQ(isFlagSet(0), 1);
    EXPECT_EQ(isFlagClear(0), 1);
}

TEST(Flags, TwoBitMasksNeedBothBits)
{
    const int32_t mask = TCVR_SERIAL_OK | CAT_SETUP;
    struct {
        int32_t word;
        int set;
        int clear;
    } cases[] = {
        {0, 0, 1},
        {TCVR_SERIAL_OK, 0, 0},
        {CAT_SETUP, 0, 0},
        {TCVR_SERIAL_OK | CAT_SETUP, 1, 0},
        {ADAPT_SPEED | HOLD_SCOPE, 0, 1},  // other bits do not count
        {ADAPT_SPEED | TCVR_SERIAL_OK | CAT_SETUP, 1, 0},
    };
    for (const auto &c : cases) {
        flags = c.word;
        EXPECT_EQ(isFlagSet(mask), c.set) << std::hex << "flags 0x" << c.word;
        EXPECT_EQ(isFlagClear(mask), c.clear) << std::hex << "flags 0x" << c.word;
    }
}

TEST(Flags, SetAndClearChangeOnlyTheirBits)
{
    flags = DISPLAY_SIGNAL | RCCONFIG_OK;
    Set_Flag(MARK_TONE | DRAW_SCOPE);
    EXPECT_EQ(flags, DISPLAY_SIGNAL | RCCONFIG_OK | MARK_TONE | DRAW_SCOPE);
    Set_Flag(MARK_TONE);  // already set: no change
    EXPECT_EQ(flags, DISPLAY_SIGNAL | RCCONFIG_OK | MARK_TONE | DRAW_SCOPE);
    Clear_Flag(MARK_TONE | DISPLAY_SIGNAL | SPACE_TONE);
    EXPECT_EQ(flags, RCCONFIG_OK | DRAW_SCOPE);
    // The top bit of the used range survives a clear of the others.
    Set_Flag(CAT_SETUP);
    Clear_Flag(~CAT_SETUP);
    EXPECT_EQ(flags, CAT_SETUP);
}

TEST(Memory, AllocReplacesAHeldBlockWithAClearedOne)
{
    const size_t sizes[] = {1, 7, 512, 64 * 1024};
    unsigned char *block = nullptr;
    for (size_t size : sizes) {
        ASSERT_EQ(mem_alloc(&block, size), 1);
        ASSERT_NE(block, nullptr);
        for (size_t i = 0; i < size; i++)
            ASSERT_EQ(block[i], 0) << "size " << size << " byte " << i;
        memset(block, 0xA5, size);  // dirty it for the next round
        // Same size again: the allocator may hand the very same block back,
        // which must be cleared all the same.
        ASSERT_EQ(mem_alloc(&block, size), 1);
        for (size_t i = 0; i < size; i++)
            ASSERT_EQ(block[i], 0) << "reused size " << size << " byte " << i;
        memset(block, 0x5A, size);
    }
    free(block);
}

TEST(Memory, ReallocKeepsTheOldContents)
{
    int16_t *block = nullptr;
    ASSERT_EQ(mem_realloc(&block, 4 * sizeof(int16_t)), 1);  // null gets a new block
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4; i++)
        block[i] = static_cast<int16_t>(-1000 * (i + 1));
    ASSERT_EQ(mem_realloc(&block, 4096 * sizeof(int16_t)), 1);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(block[i], -1000 * (i + 1)) << "grown, value " << i;
    ASSERT_EQ(mem_realloc(&block, 2 * sizeof(int16_t)), 1);
    EXPECT_EQ(block[0], -1000);
    EXPECT_EQ(block[1], -2000);
    free(block);
}
