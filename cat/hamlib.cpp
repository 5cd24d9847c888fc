// cat/hamlib.cpp - the Hamlib command family, through Hamlib's C API. The
// rig is opened at the start of reception and closed when it stops, like
// the serial link of the built-in rigs, and shares its two flag bits.
#include "cat/hamlib.h"

#include <unistd.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <hamlib/rig.h>

#include "cat/rigs.h"
#include "core/shared.h"
#include "ui/interface.h"

namespace {

constexpr size_t MESG_LEN = 128;

// The rates Hamlib can set on a serial port.
constexpr std::array<long, 13> SERIAL_RATES = {150,   300,   600,    1200,   2400,   4800,  9600,
                                               19200, 38400, 57600, 115200, 230400, 460800};

// Hamlib's network backend sets LC_NUMERIC to "C" and back through the
// name that setting it has just freed (seen with 4.5); with "C" already in
// force nothing is freed. The window's own locale returns afterwards.
struct C_Numeric_Scope {
    std::string saved;
    C_Numeric_Scope() : saved(setlocale(LC_NUMERIC, nullptr)) { setlocale(LC_NUMERIC, "C"); }
    ~C_Numeric_Scope() { setlocale(LC_NUMERIC, saved.c_str()); }
    C_Numeric_Scope(const C_Numeric_Scope &) = delete;
    C_Numeric_Scope &operator=(const C_Numeric_Scope &) = delete;
};

RIG *hamlib_rig = nullptr;
bool rig_open_done = false;  // rig_close only after a rig_open that passed

// Hamlib writes its own trace to standard error unless told not to; and
// registering the backends twice leaks the first registration.
void Load_Hamlib(void)
{
    static bool loaded = false;
    if (loaded)
        return;
    rig_set_debug(RIG_DEBUG_NONE);
    rig_load_all_backends();
    loaded = true;
}

const struct rig_caps *Model_Caps(long model)
{
    if (model <= 0 || model > INT32_MAX)
        return nullptr;
    Load_Hamlib();
    return rig_get_caps(static_cast<rig_model_t>(model));
}

// Hamlib's short text for an error code (rigerror() appends its trace).
void Error_Text(int code, char *text, size_t len)
{
    Strlcpy(text, rigerror2(code), len);
    size_t end = strlen(text);
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        text[--end] = '\0';
}

// The rig answered and turned the command down: it is still there.
bool Is_Refusal(int code)
{
    switch (code < 0 ? -code : code) {
    case RIG_EINVAL:
    case RIG_ENIMPL:
    case RIG_ERJCTED:
    case RIG_ETRUNC:
    case RIG_ENAVAIL:
    case RIG_ENTARGET:
    case RIG_EVFO:
    case RIG_EDOM:
        return true;
    default:
        return false;
    }
}

void Free_Rig(void)
{
    if (hamlib_rig == nullptr)
        return;
    if (rig_open_done)
        rig_close(hamlib_rig);
    rig_cleanup(hamlib_rig);
    hamlib_rig = nullptr;
    rig_open_done = false;
}

// The link goes as the built-in rigs' does after a failed exchange, with
// Hamlib's reason added to the dialog.
void Drop_Rig(const char *what, const char *reason)
{
    fprintf(stderr, "velkador: Hamlib: %s: %s\n", what, reason);
    // Closing may be an exchange of its own (rigctld's is): a rig that has
    // just failed one is not waited for a second time.
    if (hamlib_rig != nullptr && rig_open_done)
        rig_set_conf(hamlib_rig, rig_token_lookup(hamlib_rig, "timeout"), "1");
    Free_Rig();
    Clear_Flag(TCVR_SERIAL_OK | CAT_SETUP);
    char mesg[MESG_LEN];
    snprintf(mesg, sizeof(mesg), "Failed to Establish Transceiver CAT\nHamlib: %s", reason);
    Error_Dialog(mesg);
}

void Drop_Rig(const char *what, int code)
{
    char reason[64];
    Error_Text(code, reason, sizeof(reason));
    Drop_Rig(what, reason);
}

// 1 for RIG_OK; a refusal is reported and keeps the link; anything else
// drops it.
int Judge(int code, const char *what)
{
    if (code == RIG_OK)
        return 1;
    if (!Is_Refusal(code)) {
        Drop_Rig(what, code);
        return 0;
    }
    char reason[64];
    Error_Text(code, reason, sizeof(reason));
    fprintf(stderr, "velkador: Hamlib: %s: %s\n", what, reason);
    return 0;
}

int Set_Conf(const char *name, const char *value)
{
    token_t token = rig_token_lookup(hamlib_rig, name);
    int code = token == RIG_CONF_END ? -RIG_EINVAL : rig_set_conf(hamlib_rig, token, value);
    if (code == RIG_OK)
        return 1;
    char reason[64];
    Error_Text(code, reason, sizeof(reason));
    fprintf(stderr, "velkador: Hamlib: %s %s: %s\n", name, value, reason);
    return 0;
}

int Configure_Rig(const Hamlib_Target &target)
{
    char timeout[16], retries[16], baud[16];
    snprintf(timeout, sizeof(timeout), "%d", HAMLIB_TIMEOUT_MS);
    snprintf(retries, sizeof(retries), "%d", HAMLIB_RETRIES);
    snprintf(baud, sizeof(baud), "%d", static_cast<int>(target.baud));
    return Set_Conf("rig_pathname", target.path) && Set_Conf("timeout", timeout) &&
           Set_Conf("retry", retries) && (target.baud == 0 || Set_Conf("serial_speed", baud));
}

// A rig whose mode list Hamlib does not know is tried in CW reverse first.
int Set_Cw_Reverse(int32_t model)
{
    rmode_t modes = hamlib_rig->state.mode_list;
    if (modes == RIG_MODE_NONE || (modes & RIG_MODE_CWR) != 0) {
        int code = rig_set_mode(hamlib_rig, RIG_VFO_CURR, RIG_MODE_CWR, RIG_PASSBAND_NOCHANGE);
        if (code == RIG_OK)
            return 1;
        if (!Is_Refusal(code))
            return Judge(code, "set mode CW reverse");
    }
    fprintf(stderr, "velkador: Hamlib model %d has no CW reverse: using CW\n", static_cast<int>(model));
    if (Judge(rig_set_mode(hamlib_rig, RIG_VFO_CURR, RIG_MODE_CW, RIG_PASSBAND_NOCHANGE), "set mode CW"))
        return 1;
    // A rig that turns CW down as well still answers: decoding goes on.
    return hamlib_rig != nullptr;
}

int Startup(const Hamlib_Target &target)
{
    hamlib_rig = rig_init(static_cast<rig_model_t>(target.model));
    if (hamlib_rig == nullptr) {
        Drop_Rig("rig_init", "no such model");
        return 0;
    }
    if (!Configure_Rig(target)) {
        Drop_Rig("configuration", "refused");
        return 0;
    }
    int code = rig_open(hamlib_rig);
    if (code != RIG_OK) {
        Drop_Rig("open", code);
        return 0;
    }
    rig_open_done = true;
    // The frequency is read from the rig each time, never from Hamlib's
    // cache: the operator may have turned the dial since.
    rig_set_cache_timeout_ms(hamlib_rig, HAMLIB_CACHE_ALL, 0);

    // Without a frequency there is no click-to-tune: no proof of life.
    freq_t freq = 0;
    code = rig_get_freq(hamlib_rig, RIG_VFO_CURR, &freq);
    if (code != RIG_OK) {
        Drop_Rig("read frequency", code);
        return 0;
    }
    return Set_Cw_Reverse(target.model);
}

}  // namespace

Hamlib_Target Hamlib_Rig_Target(void)
{
    if (rc_data.hamlib_model > 0)
        return {rc_data.hamlib_model, rc_data.hamlib_baud, rc_data.cat_serial};
    return {HAMLIB_NET_MODEL, 0, HAMLIB_NET_PATH};
}

int Hamlib_Model_Known(long model)
{
    return Model_Caps(model) != nullptr;
}

int Hamlib_Baud_Accepted(long model, long baud)
{
    const struct rig_caps *caps = Model_Caps(model);
    if (caps == nullptr || caps->port_type != RIG_PORT_SERIAL)
        return 0;
    if (baud < caps->serial_rate_min || baud > caps->serial_rate_max)
        return 0;
    for (long rate : SERIAL_RATES)
        if (rate == baud)
            return 1;
    return 0;
}

int Hamlib_Open_Rig(void)
{
    C_Numeric_Scope numeric;
    Hamlib_Close_Rig();
    Hamlib_Target target = Hamlib_Rig_Target();
    const struct rig_caps *caps = Model_Caps(target.model);
    char mesg[MESG_LEN];
    if (caps == nullptr) {
        fprintf(stderr, "velkador: Hamlib has no model %d\n", static_cast<int>(target.model));
        snprintf(mesg, sizeof(mesg), _("Hamlib has no model %d\nTransceiver CAT not setup"),
                 static_cast<int>(target.model));
        Error_Dialog(mesg);
        return 0;
    }
    // Hamlib keeps trying a missing serial device for about two seconds;
    // the built-in rigs say at once that it cannot be opened. (A path that
    // is no absolute file name reaches a serial model over the network.)
    if (caps->port_type == RIG_PORT_SERIAL && target.path[0] == '/' &&
        access(target.path, R_OK | W_OK) != 0) {
        perror(target.path);
        snprintf(mesg, sizeof(mesg), _("Failed to open %s\nTransceiver CAT not setup"), target.path);
        Error_Dialog(mesg);
        return 0;
    }

    Set_Flag(CAT_SETUP);
    if (!Startup(target)) {
        fprintf(stderr, "velkador: failed to enable Hamlib CAT (model %d at %s)\n",
                static_cast<int>(target.model), target.path);
        return 0;
    }
    Clear_Flag(CAT_SETUP);
    Set_Flag(TCVR_SERIAL_OK);
    return 1;
}

void Hamlib_Close_Rig(void)
{
    if (hamlib_rig == nullptr)
        return;
    C_Numeric_Scope numeric;
    Free_Rig();
    Clear_Flag(TCVR_SERIAL_OK | CAT_SETUP);
}

int Hamlib_Set_Freq(int64_t freq_hz)
{
    if (hamlib_rig == nullptr || isFlagClear(TCVR_SERIAL_OK))
        return 0;
    if (freq_hz < 0 || freq_hz > MAX_BCD_FREQ) {
        fprintf(stderr, "velkador: %lld Hz is outside the rig's frequency range: not sent\n",
                static_cast<long long>(freq_hz));
        return 0;
    }
    // Whole hertz below 2^53 are exact in Hamlib's double.
    C_Numeric_Scope numeric;
    return Judge(rig_set_freq(hamlib_rig, RIG_VFO_CURR, static_cast<freq_t>(freq_hz)), "set frequency");
}

int Hamlib_Read_Freq(int64_t *freq_hz)
{
    if (hamlib_rig == nullptr || isFlagClear(TCVR_SERIAL_OK))
        return 0;
    C_Numeric_Scope numeric;
    freq_t freq = 0;
    if (!Judge(rig_get_freq(hamlib_rig, RIG_VFO_CURR, &freq), "read frequency"))
        return 0;
    if (!std::isfinite(freq) || freq < 0) {
        // As with a built-in rig's answer that is no number: out of step.
        Drop_Rig("read frequency", "the answer is not a frequency");
        return 0;
    }
    double hz = std::nearbyint(freq);
    if (hz > static_cast<double>(MAX_BCD_FREQ)) {
        fprintf(stderr, "velkador: the rig stands at %.0f Hz, outside 0..%lld Hz: not tuned\n", hz,
                static_cast<long long>(MAX_BCD_FREQ));
        return 0;
    }
    *freq_hz = static_cast<int64_t>(hz);
    return 1;
}
