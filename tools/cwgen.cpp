// tools/cwgen.cpp - the CW signal generator: parses text into element
// patterns, times them (PARIS, weight, Farnsworth gaps, jitter) into key-down
// stretches, and renders tone with raised-cosine edges plus optional noise.
// Band-limited noise goes through fourth-order Butterworth edges made of
// biquads written out here: the generator stays free of libraries, and a
// seed gives the same audio everywhere.
#include "cwgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double PI = 3.14159265358979323846;

struct Table_Row {
    const char *text;
    const char *pattern;
};

// The characters the generator can send, as written in text.
const Table_Row cw_table[] = {
    {"A", ".-"}, {"B", "-..."}, {"C", "-.-."}, {"D", "-.."}, {"E", "."},
    {"F", "..-."}, {"G", "--."}, {"H", "...."}, {"I", ".."}, {"J", ".---"},
    {"K", "-.-"}, {"L", ".-.."}, {"M", "--"}, {"N", "-."}, {"O", "---"},
    {"P", ".--."}, {"Q", "--.-"}, {"R", ".-."}, {"S", "..."}, {"T", "-"},
    {"U", "..-"}, {"V", "...-"}, {"W", ".--"}, {"X", "-..-"}, {"Y", "-.--"},
    {"Z", "--.."},
    {"0", "-----"}, {"1", ".----"}, {"2", "..---"}, {"3", "...--"}, {"4", "....-"},
    {"5", "....."}, {"6", "-...."}, {"7", "--..."}, {"8", "---.."}, {"9", "----."},
    {".", ".-.-.-"}, {",", "--..--"}, {"?", "..--.."}, {"'", ".----."}, {"!", "-.-.--"},
    {"/", "-..-."}, {"(", "-.--."}, {")", "-.--.-"}, {"&", ".-..."}, {":", "---..."},
    {";", "-.-.-."}, {"=", "-...-"}, {"+", ".-.-."}, {"-", "-....-"}, {"_", "..--.-"},
    {"\"", ".-..-."}, {"$", "...-..-"}, {"@", ".--.-."},
    {"<OK>", "...-."}, {"<GO>", "-.-.-"}, {"<BK>", "-...-.-"}, {"<SK>", "...-.-"},
    {"<!!>", "......."},
    {"\xC3\x84", ".-.-"}, {"\xC3\x96", "---."}, {"\xC3\x9C", "..--"}, {"\xC3\x9F", "...--.."},
    // lower-case umlauts are sent as their capitals
    {"\xC3\xA4", ".-.-"}, {"\xC3\xB6", "---."}, {"\xC3\xBC", "..--"},
};

// splitmix64: small, fast, and the same sequence on every platform.
uint64_t Next_Random(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in (0, 1): never 0, so the logarithm below stays finite.
double Uniform(uint64_t &state)
{
    return (static_cast<double>(Next_Random(state) >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

// Box-Muller, written out so that a seed gives the same audio everywhere.
double Gauss(uint64_t &state, bool &have_spare, double &spare)
{
    if (have_spare) {
        have_spare = false;
        return spare;
    }
    double r = std::sqrt(-2.0 * std::log(Uniform(state)));
    double a = 2.0 * PI * Uniform(state);
    spare = r * std::sin(a);
    have_spare = true;
    return r * std::cos(a);
}

// Length of a UTF-8 sequence from its lead byte; 1 for anything malformed.
size_t Utf8_Length(unsigned char c)
{
    if (c >= 0xF0 && c < 0xF8)
        return 4;
    if (c >= 0xE0)
        return c < 0xF0 ? 3 : 1;
    if (c >= 0xC0)
        return 2;
    return 1;
}

std::string Describe_Character(const std::string &ch)
{
    if (ch.size() == 1 && (static_cast<unsigned char>(ch[0]) < 0x20 || ch[0] == 0x7F)) {
        char code[16];
        snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(ch[0]));
        return std::string("control character ") + code;
    }
    return "'" + ch + "'";
}

// Envelope of one key-down stretch at time t: raised-cosine edges centred on
// the key-down and key-up instants, so the half-amplitude points keep the
// nominal timing.
double Key_Envelope(const Cw_Key &key, double t, double edge_s)
{
    if (edge_s <= 0.0)
        return (t >= key.on_s && t < key.off_s) ? 1.0 : 0.0;
    double half = edge_s / 2.0;
    double rise = 1.0, fall = 1.0;
    double x = t - (key.on_s - half);
    if (x <= 0.0)
        return 0.0;
    if (x < edge_s)
        rise = 0.5 - 0.5 * std::cos(PI * x / edge_s);
    double y = (key.off_s + half) - t;
    if (y <= 0.0)
        return 0.0;
    if (y < edge_s)
        fall = 0.5 - 0.5 * std::cos(PI * y / edge_s);
    return rise * fall;
}

// A second-order Butterworth section (bilinear transform, prewarped), high-
// or low-pass at cut_hz with quality q; two with the Q of a fourth-order
// Butterworth make its edge.
void Design_Section(double *c, bool high_pass, double cut_hz, double q, int32_t rate)
{
    const double w = 2.0 * PI * cut_hz / rate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double cw = std::cos(w);
    const double a0 = 1.0 + alpha;
    const double b1 = high_pass ? -(1.0 + cw) : 1.0 - cw;
    c[0] = (high_pass ? (1.0 + cw) / 2.0 : (1.0 - cw) / 2.0) / a0;
    c[1] = b1 / a0;
    c[2] = c[0];
    c[3] = -2.0 * cw / a0;
    c[4] = (1.0 - alpha) / a0;
}

double Shape_Noise(Cw_Stream &s, double x)
{
    for (int k = 0; k < s.band_sections; k++) {
        const double *c = s.band_coef[k];
        double *z = s.band_state[k];
        const double y = c[0] * x + z[0];
        z[0] = c[1] * x - c[3] * y + z[1];
        z[1] = c[2] * x - c[4] * y;
        x = y;
    }
    return x;
}

// Sets up the band's sections; the power gain they give white noise, from
// the energy of their impulse response (one second is ample above 50 Hz).
double Setup_Band(Cw_Stream &s, const Cw_Params &p)
{
    s.band_sections = 0;
    if (p.band_low_hz <= 0.0 && p.band_high_hz <= 0.0)
        return 1.0;
    const double q[2] = {0.54119610014619698, 1.3065629648763766};
    for (int k = 0; k < 2; k++) {
        Design_Section(s.band_coef[s.band_sections++], true, p.band_low_hz, q[k], p.rate);
        Design_Section(s.band_coef[s.band_sections++], false, p.band_high_hz, q[k], p.rate);
    }
    double energy = 0.0;
    for (int32_t i = 0; i < p.rate; i++) {
        const double h = Shape_Noise(s, i == 0 ? 1.0 : 0.0);
        energy += h * h;
    }
    memset(s.band_state, 0, sizeof(s.band_state));
    return energy;
}

double Signal_Envelope(Cw_Stream &stream, int k, double t)
{
    std::vector<Cw_Key> &keys = stream.keys[k];
    size_t &pos = stream.key_pos[k];
    double half = stream.edge_s / 2.0;
    while (pos < keys.size() && keys[pos].off_s + half <= t)
        pos++;
    double env = 0.0;
    for (size_t i = pos; i < keys.size() && i < pos + 2; i++)
        env += Key_Envelope(keys[i], t, stream.edge_s);
    return env > 1.0 ? 1.0 : env;
}

}  // namespace

const char *Cw_Pattern(const std::string &character)
{
    for (const Table_Row &row : cw_table)
        if (character == row.text)
            return row.pattern;
    return nullptr;
}

int Cw_Parse_Text(const std::string &text, std::vector<std::string> &patterns, std::string &error)
{
    patterns.clear();
    size_t i = 0;
    bool in_gap = false;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!in_gap && !patterns.empty())
                patterns.emplace_back();
            in_gap = true;
            i++;
            continue;
        }
        in_gap = false;
        std::string where = " at byte " + std::to_string(i + 1);

        if (c == '<') {
            size_t close = text.find('>', i);
            std::string sign = close == std::string::npos ? text.substr(i) : text.substr(i, close - i + 1);
            for (char &s : sign)
                if (s >= 'a' && s <= 'z')
                    s = static_cast<char>(s - 'a' + 'A');
            const char *pattern = close == std::string::npos ? nullptr : Cw_Pattern(sign);
            if (pattern == nullptr) {
                error = "unknown prosign '" + sign + "'" + where +
                        " (known: <OK> <GO> <BK> <SK> <!!>)";
                return 0;
            }
            patterns.emplace_back(pattern);
            i = close + 1;
            continue;
        }
        if (c == '[') {
            size_t close = text.find(']', i);
            if (close == std::string::npos || close == i + 1) {
                error = "raw pattern without elements or closing ']'" + where;
                return 0;
            }
            std::string pattern = text.substr(i + 1, close - i - 1);
            if (pattern.find_first_not_of(".-") != std::string::npos) {
                error = "raw pattern '" + pattern + "' may hold only '.' and '-'" + where;
                return 0;
            }
            patterns.push_back(pattern);
            i = close + 1;
            continue;
        }

        size_t len = Utf8_Length(c);
        if (i + len > text.size())
            len = text.size() - i;
        std::string ch = text.substr(i, len);
        if (len == 1 && c >= 'a' && c <= 'z')
            ch[0] = static_cast<char>(c - 'a' + 'A');
        const char *pattern = Cw_Pattern(ch);
        if (pattern == nullptr) {
            error = "cannot send " + Describe_Character(text.substr(i, len)) + where;
            return 0;
        }
        patterns.emplace_back(pattern);
        i += len;
    }
    if (!patterns.empty() && patterns.back().empty())
        patterns.pop_back();
    return 1;
}

int Cw_Check_Params(const Cw_Params &p, std::string &error)
{
    auto bad = [&error](const std::string &what) {
        error = what;
        return 0;
    };
    if (!(p.rate >= 8000 && p.rate <= 384000))
        return bad("sample rate must be 8000 to 384000 Hz");
    if (!(p.wpm >= 1.0 && p.wpm <= 100.0))
        return bad("speed must be 1 to 100 WPM");
    if (!(p.end_wpm == 0.0 || (p.end_wpm >= 1.0 && p.end_wpm <= 100.0)))
        return bad("final speed must be 1 to 100 WPM");
    if (!(p.tone_hz > 0.0 && p.tone_hz < p.rate / 2.0))
        return bad("tone frequency must be above 0 and below half the sample rate");
    if (!(p.weight >= 1.0 && p.weight <= 10.0))
        return bad("weight (dash length in dots) must be 1 to 10");
    if (!(p.farnsworth_wpm == 0.0 || (p.farnsworth_wpm >= 1.0 && p.farnsworth_wpm <= p.wpm)))
        return bad("Farnsworth speed must be 1 WPM up to the character speed");
    if (!(p.jitter >= 0.0 && p.jitter <= 0.5))
        return bad("jitter must be 0 to 0.5 units");
    if (!(p.edge_ms >= 0.0 && p.edge_ms <= 50.0))
        return bad("edge time must be 0 to 50 ms");
    if (!(p.level > 0.0 && p.level <= 1.0))
        return bad("level must be above 0 and at most 1");
    if (p.noise && !(p.snr_db >= -40.0 && p.snr_db <= 100.0))
        return bad("SNR must be -40 to 100 dB");
    if (p.noise_at_level && !(p.noise_dbfs >= -120.0 && p.noise_dbfs <= 0.0))
        return bad("noise level must be -120 to 0 dBFS");
    if ((p.band_low_hz != 0.0 || p.band_high_hz != 0.0) &&
        !(p.band_low_hz >= 10.0 && p.band_high_hz > p.band_low_hz && p.band_high_hz < 0.45 * p.rate))
        return bad("noise band must be LOW:HIGH with 10 <= LOW < HIGH < 0.45 x the sample rate");
    if (!(p.lead_ms >= 0.0 && p.lead_ms <= 3600e3) || !(p.trail_ms >= 0.0 && p.trail_ms <= 3600e3))
        return bad("leading and trailing silence must be 0 to 3600000 ms");
    if (!p.second_text.empty()) {
        if (!(p.second_tone_hz > 0.0 && p.second_tone_hz < p.rate / 2.0))
            return bad("second tone frequency must be above 0 and below half the sample rate");
        if (!(p.second_level_db >= -100.0 && p.second_level_db <= 20.0))
            return bad("second signal level must be -100 to 20 dB");
        if (!(p.second_wpm == 0.0 || (p.second_wpm >= 1.0 && p.second_wpm <= 100.0)))
            return bad("second signal speed must be 1 to 100 WPM");
    }
    return 1;
}

int Cw_Keying(const Cw_Params &p, const std::string &text, double wpm, double lead_s, uint64_t seed,
              std::vector<Cw_Key> &keys, double &end_s, std::string &error, double end_wpm)
{
    std::vector<std::string> patterns;
    if (!Cw_Parse_Text(text, patterns, error))
        return 0;

    double unit = 0.0, char_gap = 0.0, word_gap = 0.0;
    auto set_speed = [&](double w) {
        unit = 1.2 / w;
        char_gap = 3.0 * unit;
        word_gap = 7.0 * unit;
        if (p.farnsworth_wpm > 0.0 && p.farnsworth_wpm < w) {
            // The time PARIS (50 units, 19 of them in gaps) must take at the
            // overall speed beyond its 31 units of characters, spread over the gaps.
            double stretch = (60.0 * w - 37.2 * p.farnsworth_wpm) / (p.farnsworth_wpm * w);
            char_gap = 3.0 * stretch / 19.0;
            word_gap = 7.0 * stretch / 19.0;
        }
    };
    set_speed(wpm);
    size_t characters = 0;
    for (const std::string &pattern : patterns)
        characters += pattern.empty() ? 0 : 1;

    uint64_t rng = seed;
    bool have_spare = false;
    double spare = 0.0;
    auto timed = [&](double nominal) {
        if (p.jitter <= 0.0)
            return nominal;
        double t = nominal + p.jitter * unit * Gauss(rng, have_spare, spare);
        return t < 0.2 * nominal ? 0.2 * nominal : t;
    };

    keys.clear();
    double t = lead_s;
    size_t sent = 0;
    for (size_t c = 0; c < patterns.size(); c++) {
        const std::string &pattern = patterns[c];
        if (pattern.empty())
            continue;
        if (end_wpm > 0.0 && characters > 1)
            set_speed(wpm + (end_wpm - wpm) * static_cast<double>(sent) / static_cast<double>(characters - 1));
        sent++;
        for (size_t e = 0; e < pattern.size(); e++) {
            if (e > 0)
                t += timed(unit);
            double len = timed(pattern[e] == '.' ? unit : p.weight * unit);
            keys.push_back({t, t + len});
            t += len;
        }
        bool word_follows = c + 1 < patterns.size() && patterns[c + 1].empty();
        t += timed(word_follows ? word_gap : char_gap);
    }
    end_s = t;
    return 1;
}

int Cw_Begin(Cw_Stream &s, const Cw_Params &p, const std::string &text, std::string &error)
{
    if (!Cw_Check_Params(p, error))
        return 0;
    s = Cw_Stream();
    s.rate = p.rate;
    s.edge_s = p.edge_ms / 1000.0;
    const double lead_s = p.lead_ms / 1000.0;

    double end_s[2] = {lead_s, lead_s};
    if (!Cw_Keying(p, text, p.wpm, lead_s, p.seed, s.keys[0], end_s[0], error, p.end_wpm))
        return 0;
    if (!p.second_text.empty()) {
        std::string second_error;
        double wpm = p.second_wpm > 0.0 ? p.second_wpm : p.wpm;
        if (!Cw_Keying(p, p.second_text, wpm, lead_s, p.seed ^ 0x5EC0D5EC0D5EC0D5ull, s.keys[1],
                       end_s[1], second_error)) {
            error = "second text: " + second_error;
            return 0;
        }
    }
    double end = end_s[0] > end_s[1] ? end_s[0] : end_s[1];
    s.total_frames = static_cast<int64_t>(std::ceil((end + p.trail_ms / 1000.0) * p.rate));

    s.tone_hz[0] = p.tone_hz;
    s.tone_hz[1] = p.second_tone_hz;
    double amp[2] = {p.level, p.second_text.empty() ? 0.0 : p.level * std::pow(10.0, p.second_level_db / 20.0)};

    // SNR: keyed-down tone power (amplitude^2 / 2) over the noise power that
    // falls in 2500 Hz; white noise spreads its variance over rate / 2 Hz.
    // sigma is that of the white noise before the band; shaped is after it.
    const double band_gain = Setup_Band(s, p);
    double sigma = 0.0, shaped = 0.0;
    if (p.noise_at_level) {
        shaped = std::pow(10.0, p.noise_dbfs / 20.0);
        sigma = shaped / std::sqrt(band_gain);
    } else if (p.noise) {
        double tone_power = p.level * p.level / 2.0;
        double noise_in_band = tone_power / std::pow(10.0, p.snr_db / 10.0);
        sigma = std::sqrt(noise_in_band * (p.rate / 2.0) / 2500.0);
        shaped = s.band_sections > 0 ? sigma * std::sqrt(band_gain) : sigma;
    }
    // Keep the mix, with noise peaks of four deviations, below full scale:
    // everything is scaled alike, so the SNR stays as asked.
    double peak = amp[0] + amp[1] + 4.0 * shaped;
    double scale = peak > 0.98 && !p.noise_at_level ? 0.98 / peak : 1.0;
    s.amplitude[0] = amp[0] * scale;
    s.amplitude[1] = amp[1] * scale;
    s.noise_sigma = sigma * scale;
    s.rng_state = p.seed * 0x2545F4914F6CDD1Dull + 1;
    return 1;
}

size_t Cw_Render(Cw_Stream &s, int16_t *out, size_t max_frames)
{
    size_t n = 0;
    for (; n < max_frames && s.next_frame < s.total_frames; n++, s.next_frame++) {
        double t = static_cast<double>(s.next_frame) / s.rate;
        double v = 0.0;
        for (int k = 0; k < 2; k++) {
            if (s.amplitude[k] == 0.0 || s.keys[k].empty())
                continue;
            double env = Signal_Envelope(s, k, t);
            if (env > 0.0) {
                // The phase from the frame number itself: no drift over hours.
                double cycles = s.tone_hz[k] * static_cast<double>(s.next_frame) / s.rate;
                v += s.amplitude[k] * env * std::sin(2.0 * PI * (cycles - std::floor(cycles)));
            }
        }
        if (s.noise_sigma > 0.0 && s.band_sections > 0)
            v += Shape_Noise(s, s.noise_sigma * Gauss(s.rng_state, s.have_spare, s.spare_gauss));
        else if (s.noise_sigma > 0.0)
            v += s.noise_sigma * Gauss(s.rng_state, s.have_spare, s.spare_gauss);
        double scaled = std::lround(v * 32767.0);
        if (scaled > 32767.0)
            scaled = 32767.0;
        if (scaled < -32768.0)
            scaled = -32768.0;
        int16_t sample = static_cast<int16_t>(scaled);
        out[2 * n] = sample;
        out[2 * n + 1] = sample;
    }
    return n;
}

int Cw_Generate(const Cw_Params &params, const std::string &text, std::vector<int16_t> &stereo_out,
                std::string &error)
{
    Cw_Stream stream;
    if (!Cw_Begin(stream, params, text, error))
        return 0;
    stereo_out.assign(static_cast<size_t>(2 * stream.total_frames), 0);
    Cw_Render(stream, stereo_out.data(), static_cast<size_t>(stream.total_frames));
    return 1;
}

void Cw_Wav_Header(int32_t rate, int64_t frames, uint8_t h[44])
{
    auto put32 = [h](int at, uint32_t v) {
        for (int i = 0; i < 4; i++)
            h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [h](int at, uint16_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    // Sizes beyond what 32 bits hold are capped; players then read to the end.
    uint64_t data_bytes = static_cast<uint64_t>(frames) * 4u;
    if (data_bytes > 0xFFFFFFFFull - 36)
        data_bytes = 0xFFFFFFFFull - 36;
    memcpy(h, "RIFF", 4);
    put32(4, static_cast<uint32_t>(36 + data_bytes));
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);  // PCM
    put16(22, 2);  // channels
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate) * 4u);
    put16(32, 4);  // bytes per frame
    put16(34, 16); // bits per sample
    memcpy(h + 36, "data", 4);
    put32(40, static_cast<uint32_t>(data_bytes));
}

size_t Edit_Distance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}
