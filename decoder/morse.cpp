// decoder/morse.cpp - the character decoder: times marks and spaces in
// fragments against the Morse unit, collects dots and dashes into an element
// code, and looks the code up at a character gap. One fragment per call.
#include "decoder/morse.h"

#include "core/shared.h"
#include "decoder/detector.h"
#include "decoder/speed.h"

int32_t mark_frags = 0, mark_units = 0, space_frags = 0, space_units = 0;

namespace {

constexpr int MORSE_ROWS = 64;

// Element codes: a leading 1, then one bit per element, dot 1, dash 0.
const uint8_t morse_codes[MORSE_ROWS] = {
    0x06, 0x17, 0x15, 0x0B, 0x03, 0x1D, 0x09, 0x1F, 0x07, 0x18,  // A-J
    0x0A, 0x1B, 0x04, 0x05, 0x08, 0x19, 0x12, 0x0D, 0x0F, 0x02,  // K-T
    0x0E, 0x1E, 0x0C, 0x16, 0x14, 0x13,                          // U-Z
    0x30, 0x38, 0x3C, 0x3E, 0x3F, 0x2F, 0x27, 0x23, 0x21, 0x20,  // 1-9, 0
    0x6A, 0x4C, 0x73, 0x61, 0x54, 0x2D, 0x29, 0x52, 0x37, 0x47,  // . , ? ' ! / ( ) & :
    0x55, 0x2E, 0x35, 0x5E, 0x72, 0x6D, 0xF6, 0x65,              // ; = + - _ " $ @
    0x3D, 0x2A, 0xBA, 0x7A,                                      // prosigns
    0x1A, 0x11, 0x1C, 0xF3,                                      // Ä Ö Ü ß
    0xFF, 0x01};                                                 // seven dots, none

// The row after the last code is the fallback for codes not in the table.
const char *const morse_strings[MORSE_ROWS + 1] = {
    "A", "B", "C", "D", "E", "F", "G", "H", "I", "J",
    "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T",
    "U", "V", "W", "X", "Y", "Z",
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "0",
    ".", ",", "?", "'", "!", "/", "(", ")", "&", ":",
    ";", "=", "+", "-", "_", "\"", "$", "@",
    "<OK>", "<GO>", "<BK>", "<SK>",
    "\xC3\x84", "\xC3\x96", "\xC3\x9C", "\xC3\x9F",
    "<!!>", " ",
    "*"};

// With bit 31 set the code holds 31 elements; one more would push the
// leading 1 out and could leave a short code that matches a table row.
constexpr uint32_t ELEM_CODE_FULL = 0x80000000u;

int32_t decoder_state = STATE_INIT;
int32_t mark_cnt = 0;
int32_t space_cnt = 0;
uint32_t elem_code = 1;

void Append_Element(bool dash)
{
    if (elem_code & ELEM_CODE_FULL)
        return;  // stays above any table code, so the character prints "*"
    elem_code = dash ? elem_code << 1 : (elem_code << 1) | 1u;
}

// Start timing a new mark whose first fragment has just been counted.
void Begin_Mark(void)
{
    space_cnt = 0;
    mark_cnt = 1;
    decoder_state = STATE_MARK;
}

}  // namespace

const char *Morse_Lookup(uint32_t code)
{
    for (int row = 0; row < MORSE_ROWS; row++)
        if (morse_codes[row] == code)
            return morse_strings[row];
    return morse_strings[MORSE_ROWS];
}

int32_t Decoder_State(void)
{
    return decoder_state;
}

void Decode_Fragment(char *buf)
{
    const int32_t u = rc_data.unit_elem;
    const bool mark = isFlagSet(MARK_TONE);
    const bool space = isFlagSet(SPACE_TONE);

    if (mark)
        mark_cnt++;
    else
        space_cnt++;
    if (mark_cnt > 8 * u)
        mark_cnt = 8 * u;
    if (space_cnt > 16 * u)
        space_cnt = 16 * u;

    switch (decoder_state) {
    case STATE_MARK:
        if (mark_cnt >= 8 * u) {
            space_cnt = 0;
            elem_code = 1;
            decoder_state = STATE_LONG_MARK;
        } else if (space) {
            space_cnt = 1;
            decoder_state = STATE_MARK_END;
        }
        break;

    case STATE_MARK_END: {
        if (space_cnt < u / 2 && !mark)
            break;
        bool dash = mark_cnt >= 2 * u;
        Append_Element(dash);
        mark_frags += mark_cnt;
        mark_units += dash ? 3 : 1;
        if (space) {
            mark_cnt = 0;
            decoder_state = STATE_ELEM_SPACE;
        } else {
            // The tone came back within half a unit: a new element begins.
            Begin_Mark();
        }
        break;
    }

    case STATE_ELEM_SPACE:
        if (!space) {
            space_frags += space_cnt;
            space_units++;
            Begin_Mark();
        } else if (space_cnt >= 2 * u) {
            decoder_state = STATE_CHAR_SPACE;
            Strlcpy(buf, Morse_Lookup(elem_code), 5);
            elem_code = 1;
        }
        break;

    case STATE_CHAR_SPACE:
        if (!space) {
            Track_Speed();
            Begin_Mark();
        } else if (space_cnt >= 5 * u) {
            decoder_state = STATE_WORD_SPACE;
        }
        break;

    case STATE_WORD_SPACE:
        if (!space) {
            Track_Speed();
            Begin_Mark();
            Strlcpy(buf, " ", 5);
        } else if (space_cnt >= 7 * u) {
            Strlcpy(buf, " ", 5);
            decoder_state = STATE_LONG_SPACE;
        }
        break;

    case STATE_LONG_SPACE:
        if (mark) {
            space_cnt = 0;
            decoder_state = STATE_MARK;
        }
        break;

    case STATE_LONG_MARK:
        if (space) {
            space_cnt = 1;
            mark_cnt = 0;
            decoder_state = STATE_LONG_SPACE;
        }
        break;

    default:
        decoder_state = mark ? STATE_MARK : STATE_LONG_SPACE;
        break;
    }
}

int Get_Character(char *buf)
{
    if (!Get_Fragment())
        return 0;
    Decode_Fragment(buf);
    return 1;
}
