// tests/test_detector_alloc.cpp - the receive path (intake, detector with its
// scope trace, decoder, speed tracking) allocates nothing after its first
// fragment. Every malloc, calloc and realloc of this process is counted
// (tests/alloc_count.h). The widgets stay null: the toolkit's own
// redraw and spin-button calls allocate inside the toolkit.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "core/shared.h"
#include "cwgen.h"
#include "decoder/morse.h"
#include "display/fft.h"
#include "display/waterfall.h"
#include "test_morse_rx.h"

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
    long before = Allocation_Count();
    for (int64_t i = 1; i < count; i++) {
        char buf[5] = "";
        ASSERT_EQ(Get_Character(buf), 1);
        text += buf;
    }
    long after = Allocation_Count();
    Stop_Rx();
    EXPECT_EQ(Normalised(text), "CQ CQ DE G4ABC G4ABC PSE K");
    EXPECT_NE(rc_data.unit_elem, 24) << "speed tracking should have run";
    EXPECT_EQ(after - before, 0) << "allocations on the receive path";
}

// A capture that delivers only zeros, or one constant value, for minutes:
// no characters, and the receive path with the waterfall behind it stays
// as it was set up.
TEST(DetectorAlloc, MinutesOfSilenceOrDcDecodeNothingAndAllocateNothing)
{
    Rx_Setup setup;
    setup.dsp_rate = 8000;
    ASSERT_EQ(Waterfall_Configure_Event(511, 64), 1);
    rc_data.ifft_decimate = (setup.dsp_rate / setup.tone_freq) / ((2 * ifft_data_length) / wfall_width);
    for (int16_t value : {int16_t(0), int16_t(20000), int16_t(-32768), int16_t(32767)}) {
        SCOPED_TRACE(value);
        std::vector<int16_t> audio(2 * 3 * 60 * 8000, value);
        int64_t count = Start_Rx(audio, setup);
        ASSERT_FALSE(Run_Rx(1).failed);
        long before = Allocation_Count();
        Rx_Result r = Run_Rx(count - 1);
        long after = Allocation_Count();
        Stop_Rx();
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.text, "");
        EXPECT_EQ(after - before, 0) << "allocations on the receive path";
    }
}
