// tests/fuzz/fuzz_morse.cpp - the Morse decoder fed arbitrary mark/space
// sequences at any unit, with and without speed tracking. Header: the unit
// (two bytes), the tracking range (two bytes) and the Auto switch; then one
// byte per run of fragments: the top bit says mark, the rest how long the
// run is in sixteenths of the unit (plus one fragment).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/shared.h"
#include "decoder/morse.h"

namespace {

constexpr int64_t MAX_STEPS = 24000;

// What one decoder step may hand out: nothing, a blank, a table text or "*".
void Check_Text(const char *buf)
{
    if (memchr(buf, '\0', 5) == nullptr)
        abort();
    if (buf[0] == '\0' || strcmp(buf, " ") == 0 || strcmp(buf, "*") == 0)
        return;
    for (uint32_t code = 2; code < 256; code++)
        if (strcmp(Morse_Lookup(code), buf) == 0)
            return;
    fprintf(stderr, "fuzz_morse: \"%s\" is no text of the table\n", buf);
    abort();
}

void Step(bool mark)
{
    if (mark) {
        Set_Flag(MARK_TONE);
        Clear_Flag(SPACE_TONE);
    } else {
        Clear_Flag(MARK_TONE);
        Set_Flag(SPACE_TONE);
    }
    char buf[5] = "";
    Decode_Fragment(buf);
    Check_Text(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    // Units from 1 fragment to 1024, beyond the 300 of 6 WPM at a 3 kHz tone;
    // mostly below 128 (8 to 80 at 800 Hz), where a run costs less.
    const int32_t unit = (data[1] & 0x80) != 0 ? 1 + (data[0] | (data[1] & 3) << 8) : 1 + data[0] % 128;
    const int32_t a = 1 + data[2] % 255, b = 1 + data[3] * 16;
    rc_data.min_unit = a < b ? a : b;
    rc_data.max_unit = a < b ? b : a;
    rc_data.unit_elem = unit;
    rc_data.tone_freq = 800;
    if (data[4] & 1)
        Set_Flag(ADAPT_SPEED);
    else
        Clear_Flag(ADAPT_SPEED);

    // A long space first (seven units reach the long-space state from any
    // other): the decoder then stands where every run starts.
    for (int32_t i = 0; i < 8 * unit; i++)
        Step(false);
    mark_frags = mark_units = space_frags = space_units = 0;

    // Up to about a minute of fragments at 800 Hz: longer inputs only
    // repeat what their first minute has shown, and slow the search down.
    int64_t steps = 0;
    for (size_t i = 5; i < size && steps < MAX_STEPS; i++) {
        const bool mark = (data[i] & 0x80) != 0;
        const int64_t len = 1 + (static_cast<int64_t>(data[i] & 0x7f) * rc_data.unit_elem) / 16;
        for (int64_t k = 0; k < len; k++)
            Step(mark);
        steps += len;
        if (rc_data.unit_elem < 1 || rc_data.unit_elem > 4096) {
            fprintf(stderr, "fuzz_morse: the unit went to %d\n", rc_data.unit_elem);
            abort();
        }
    }
    return 0;
}
