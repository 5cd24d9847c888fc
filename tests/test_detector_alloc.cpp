// tests/test_detector_alloc.cpp - the receive path (intake, detector with its
// scope trace, decoder, speed tracking) allocates nothing after its first
// fragment. Every malloc, calloc and realloc of this process is counted by
// wrapping glibc's allocator. The widgets stay null: the toolkit's own
// redraw and spin-button calls allocate inside the toolkit.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "core/shared.h"
#include "cwgen.h"
#include "decoder/morse.h"
#include "test_morse_rx.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

namespace {
long allocations = 0;
}

void *malloc(size_t n)
{
    allocations++;
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    allocations++;
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    allocations++;
    return __libc_realloc(p, n);
}
}

TEST(DetectorAlloc, NothingAllocatedAfterTheFirstFragment)
{
    Cw_Params p;
    p.wpm = 15;  // slower than the unit: speed tracking moves it
    p.noise = true;
    p.snr_db = 20;
    std::vector<int16_t> audio;
    std::string error;
    ASSERT_EQ(Cw_Generate(p, "CQ CQ DE G4ABC G4ABC PSE K", audio, error), 1) << error;

    Rx_Setup setup;
    int64_t count = Start_Rx(audio, setup);
    Set_Flag(ADAPT_SPEED);
    Set_Flag(DISPLAY_RATIO);
    ASSERT_FALSE(Run_Rx(1).failed);

    std::string text;
    text.reserve(4096);  // appending below must not allocate either
    long before = allocations;
    for (int64_t i = 1; i < count; i++) {
        char buf[5] = "";
        ASSERT_EQ(Get_Character(buf), 1);
        text += buf;
    }
    long after = allocations;
    Stop_Rx();
    EXPECT_EQ(Normalised(text), "CQ CQ DE G4ABC G4ABC PSE K");
    EXPECT_NE(rc_data.unit_elem, 24) << "speed tracking should have run";
    EXPECT_EQ(after - before, 0) << "allocations on the receive path";
}
