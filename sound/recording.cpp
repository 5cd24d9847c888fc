// sound/recording.cpp - a recording or a pipe as the intake's sample source.
// The input is read in chunks, one channel is kept, and libsoxr resamples it
// to the detector's rate when the input has another; the samples wait in a
// queue until the intake takes them a block at a time. Every buffer is made
// when the recording is opened, so memory does not grow with its length.
#include "sound/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sndfile.h>
#include <soxr.h>

namespace {

constexpr int CHUNK_FRAMES = 4096;       // input frames read at a time
constexpr int MAX_BLOCK_FRAMES = 4096;   // largest block the intake may ask for
constexpr size_t ERROR_LEN = 256;

// Header lengths at or above this are the "length unknown" of a recording
// written to a pipe, not a promise that the file breaks.
constexpr long long STREAMED_LENGTH = 0x7FFF0000LL;

SNDFILE *sound_file = nullptr;
int raw_fd = -1;
bool open_now = false;
int status = RECORDING_READING;
char error_text[ERROR_LEN] = "";
char name[128] = "";

int32_t in_rate = 0;
int32_t in_channels = 0;
int32_t use_channel = 0;
int64_t declared_frames = -1;  // from the header; -1 when it has none
int64_t frames_read = 0;       // input frames, at in_rate
int64_t frames_out = 0;        // recording frames handed out, at the detector's rate
int64_t tail_left = 0;
bool source_done = false;

soxr_t resampler = nullptr;
float *float_in = nullptr;       // one chunk for the resampler, full scale 1.0
float *float_out = nullptr;      // what it makes of it
size_t float_out_cap = 0;

int16_t *in_values = nullptr;    // CHUNK_FRAMES frames of in_channels values
uint8_t *raw_bytes = nullptr;    // the same as bytes, for standard input
size_t raw_kept = 0;             // bytes of an incomplete frame carried over
int16_t *mono = nullptr;         // the chosen channel of one chunk
int16_t *queue = nullptr;        // samples at the detector's rate, not yet handed out
size_t queue_cap = 0;
size_t queue_len = 0;
size_t queue_pos = 0;

volatile sig_atomic_t interrupted = 0;

void Set_Error(const char *reason)
{
    snprintf(error_text, sizeof(error_text), "%s: %s", name, reason);
    status = RECORDING_FAILED;
}

// Raw frames from standard input; -1 when a signal broke off the read.
long Read_Raw(void)
{
    const size_t frame_bytes = 2 * static_cast<size_t>(in_channels);
    const size_t want = CHUNK_FRAMES * frame_bytes;
    for (;;) {
        ssize_t got = read(raw_fd, raw_bytes + raw_kept, want - raw_kept);
        if (got < 0) {
            if (errno == EINTR && interrupted)
                return -1;
            if (errno == EINTR)
                continue;
            Set_Error(strerror(errno));
            return 0;
        }
        if (got == 0) {
            if (raw_kept != 0)
                Set_Error("truncated: the input ends within a frame");
            return 0;
        }
        const size_t have = raw_kept + static_cast<size_t>(got);
        const size_t frames = have / frame_bytes;
        if (frames == 0) {
            raw_kept = have;
            continue;
        }
        for (size_t i = 0; i < frames * in_channels; i++)
            in_values[i] = static_cast<int16_t>(raw_bytes[2 * i] | (raw_bytes[2 * i + 1] << 8));
        raw_kept = have - frames * frame_bytes;
        memmove(raw_bytes, raw_bytes + frames * frame_bytes, raw_kept);
        return static_cast<long>(frames);
    }
}

// libsndfile reports a shorter file in several ways: a decoder error, fewer
// frames than the header counted, a data chunk its log says should be
// shorter, or a stream that ends without its end mark.
bool File_Is_Truncated(void)
{
    if (sf_error(sound_file) != SF_ERR_NO_ERROR)
        return true;
    if (declared_frames >= 0 && frames_read < declared_frames)
        return true;
    char log[4096];
    sf_command(sound_file, SFC_GET_LOG_INFO, log, sizeof(log));
    if (strstr(log, "ended unexpectedly") != nullptr)
        return true;
    for (const char *p = strstr(log, "data : "); p != nullptr; p = strstr(p + 1, "data : ")) {
        long long said = 0, real = 0;
        if (sscanf(p, "data : %lld (should be %lld)", &said, &real) == 2 && said > real &&
            said < STREAMED_LENGTH)
            return true;
    }
    return false;
}

// Appends resampled samples to the queue, rounded to 16 bits and clipped.
void Queue_Resampled(size_t count)
{
    for (size_t i = 0; i < count; i++) {
        long v = lrintf(float_out[i] * 32768.0f);
        queue[queue_len++] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
}

size_t Resampled_Room(void)
{
    size_t room = queue_cap - queue_len;
    return room < float_out_cap ? room : float_out_cap;
}

// The end of the input: what the resampler still holds, then the checks.
void Finish_Source(void)
{
    source_done = true;
    for (size_t done = 1; resampler != nullptr && done > 0 && Resampled_Room() > 0;) {
        done = 0;
        soxr_process(resampler, nullptr, 0, nullptr, float_out, Resampled_Room(), &done);
        Queue_Resampled(done);
    }
    if (status == RECORDING_FAILED || status == RECORDING_INTERRUPTED)
        return;
    if (frames_read == 0)
        Set_Error("contains no audio");
    else if (sound_file != nullptr && File_Is_Truncated())
        Set_Error("truncated: the audio ends before its header says");
    else
        status = RECORDING_ENDED;
}

// Reads one chunk into the queue; false at the end of the input.
bool Fill_Queue(void)
{
    if (queue_pos > 0) {
        memmove(queue, queue + queue_pos, (queue_len - queue_pos) * sizeof(int16_t));
        queue_len -= queue_pos;
        queue_pos = 0;
    }

    long frames = 0;
    if (interrupted) {
        frames = -1;
    } else if (sound_file != nullptr) {
        frames = static_cast<long>(sf_readf_short(sound_file, in_values, CHUNK_FRAMES));
    } else {
        frames = Read_Raw();
    }
    if (frames < 0)
        status = RECORDING_INTERRUPTED;
    if (frames <= 0) {
        Finish_Source();
        return false;
    }
    frames_read += frames;

    for (long f = 0; f < frames; f++)
        mono[f] = in_values[f * in_channels + use_channel];
    if (resampler == nullptr) {
        memcpy(queue + queue_len, mono, static_cast<size_t>(frames) * sizeof(int16_t));
        queue_len += static_cast<size_t>(frames);
        return true;
    }
    for (long f = 0; f < frames; f++)
        float_in[f] = static_cast<float>(mono[f]) / 32768.0f;
    size_t used = 0, done = 0;
    soxr_error_t err = soxr_process(resampler, float_in, static_cast<size_t>(frames), &used, float_out,
                                    Resampled_Room(), &done);
    Queue_Resampled(done);
    if (err != nullptr) {
        Set_Error(err);
        Finish_Source();
        return false;
    }
    return true;
}

int Open_Fail(char *mesg, size_t len, const char *reason)
{
    snprintf(mesg, len, "%s: %s", name, reason);
    Close_Recording();
    return 0;
}

}  // namespace

int Open_Recording(const recording_source_t &source, char *mesg, size_t len)
{
    Close_Recording();
    const bool from_stdin = strcmp(source.path, "-") == 0;
    snprintf(name, sizeof(name), "%s", from_stdin ? "standard input" : source.path);
    status = RECORDING_READING;
    error_text[0] = '\0';
    interrupted = 0;

    if (from_stdin) {
        raw_fd = STDIN_FILENO;
        in_rate = source.raw_rate;
        in_channels = source.raw_channels;
    } else {
        int fd = open(source.path, O_RDONLY);
        if (fd < 0)
            return Open_Fail(mesg, len, strerror(errno));
        struct stat st;
        if (fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_size == 0))) {
            close(fd);
            return Open_Fail(mesg, len, S_ISDIR(st.st_mode) ? "is a directory" : "is empty");
        }
        SF_INFO info;
        memset(&info, 0, sizeof(info));
        sound_file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
        if (sound_file == nullptr) {
            close(fd);
            char reason[200];
            snprintf(reason, sizeof(reason), "not audio that can be read (%s)", sf_strerror(nullptr));
            return Open_Fail(mesg, len, reason);
        }
        in_rate = info.samplerate;
        in_channels = info.channels;
        declared_frames = info.frames < SF_COUNT_MAX ? info.frames : -1;
        if (declared_frames == 0)
            return Open_Fail(mesg, len, "contains no audio");
    }
    if (in_rate <= 0 || in_channels <= 0)
        return Open_Fail(mesg, len, "has no usable sample rate or channel count");
    use_channel = source.channel < in_channels ? source.channel : in_channels - 1;

    const size_t values = static_cast<size_t>(CHUNK_FRAMES) * static_cast<size_t>(in_channels);
    // Each chunk makes at most this many samples at the detector's rate.
    const size_t out_chunk =
        static_cast<size_t>((static_cast<int64_t>(CHUNK_FRAMES) * source.dsp_rate) / in_rate) + 1024;
    queue_cap = out_chunk + MAX_BLOCK_FRAMES;
    in_values = static_cast<int16_t *>(malloc(values * sizeof(int16_t)));
    raw_bytes = from_stdin ? static_cast<uint8_t *>(malloc(values * 2)) : nullptr;
    mono = static_cast<int16_t *>(malloc(CHUNK_FRAMES * sizeof(int16_t)));
    queue = static_cast<int16_t *>(malloc(queue_cap * sizeof(int16_t)));
    if (in_values == nullptr || mono == nullptr || queue == nullptr || (from_stdin && raw_bytes == nullptr))
        return Open_Fail(mesg, len, strerror(ENOMEM));

    if (in_rate != source.dsp_rate) {
        // The library's defaults: high quality, one thread, float samples.
        // The rounding back to 16 bits is done here, without dither, so the
        // same input always gives the same samples.
        soxr_error_t err = nullptr;
        resampler = soxr_create(in_rate, source.dsp_rate, 1, &err, nullptr, nullptr, nullptr);
        float_in = static_cast<float *>(malloc(CHUNK_FRAMES * sizeof(float)));
        float_out = static_cast<float *>(malloc(out_chunk * sizeof(float)));
        float_out_cap = out_chunk;
        if (resampler == nullptr || err != nullptr || float_in == nullptr || float_out == nullptr)
            return Open_Fail(mesg, len, err != nullptr ? err : "cannot be resampled");
    }
    tail_left = source.tail_frames;
    open_now = true;
    return 1;
}

int Read_Recording_Block(int16_t *data, int frames)
{
    if (!open_now || frames <= 0 || frames > MAX_BLOCK_FRAMES)
        return 0;
    while (!source_done && queue_len - queue_pos < static_cast<size_t>(frames))
        Fill_Queue();

    size_t have = queue_len - queue_pos;
    if (have == 0 && (tail_left <= 0 || status == RECORDING_INTERRUPTED))
        return 0;
    if (have > static_cast<size_t>(frames))
        have = static_cast<size_t>(frames);
    for (size_t i = 0; i < have; i++)
        data[2 * i] = data[2 * i + 1] = queue[queue_pos + i];
    memset(data + 2 * have, 0, (static_cast<size_t>(frames) - have) * 2 * sizeof(int16_t));
    queue_pos += have;
    frames_out += static_cast<int64_t>(have);
    if (have < static_cast<size_t>(frames))
        tail_left -= static_cast<int64_t>(frames) - static_cast<int64_t>(have);
    return 1;
}

void Interrupt_Recording(void)
{
    interrupted = 1;
}

int Recording_Is_Open(void)
{
    return open_now ? 1 : 0;
}

int Recording_Status(void)
{
    return status;
}

const char *Recording_Error(void)
{
    return error_text;
}

int64_t Recording_Frames(void)
{
    return frames_out;
}

int32_t Recording_Rate(void)
{
    return in_rate;
}

int32_t Recording_Channels(void)
{
    return in_channels;
}

void Close_Recording(void)
{
    if (sound_file != nullptr)
        sf_close(sound_file);
    sound_file = nullptr;
    raw_fd = -1;
    if (resampler != nullptr)
        soxr_delete(resampler);
    resampler = nullptr;
    free(in_values);
    free(raw_bytes);
    free(mono);
    free(queue);
    free(float_in);
    free(float_out);
    float_in = float_out = nullptr;
    float_out_cap = 0;
    in_values = nullptr;
    raw_bytes = nullptr;
    mono = nullptr;
    queue = nullptr;
    queue_cap = queue_len = queue_pos = raw_kept = 0;
    frames_read = frames_out = tail_left = 0;
    declared_frames = -1;
    source_done = false;
    open_now = false;
}
