// The sound plug-in "mp3dec.plg": decodes MPEG audio files (layers 1 to 3) with libmpg123.
// Supported: file input to file output, written as a 16-bit PCM WAV file with the stream's
// sample rate and channel count. Decoding runs on a thread of its own after SMPlay; the
// player mode becomes 3 (finished) when it ends, successfully or not (SMLastError tells).
// The output is written under a temporary name and renamed to the requested name only
// when complete, so a failed decoding never leaves a truncated WAV file behind.

#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/DurableWrite.h"
#include "base/SoundPluginAbi.h"
#include "base/ZipFormat.h"

namespace {

// Error codes of the player's table.
enum Error : int32_t {
    eNone = 0,
    eNotImplemented = 1,
    eBadMode = 2,
    eInternal = 3,
    eBadHandle = 4,
    eInput = 5,
    eOutput = 6,
    eNoMemory = 7,
    eResources = 8,
};

constexpr uint8_t kInputFile = 0;   // imFile
constexpr uint8_t kOutputFile = 1;  // omFile
// Bytes of decoded output gathered per write of the WAV file.
constexpr size_t kWriteSize = 256 * 1024;

struct Module {
    std::mutex lock;  // guards everything below against the calls of other threads
    uint8_t inputMode = kInputFile;
    uint8_t outputMode = 0;
    std::string inputName, outputName;
    int32_t priority = 0, devNum = 0, startPos = 0, endPos = 0;
    int32_t buffers = 8, bufferSize = 16384;
    bool useOutCB = false;

    mpg123_handle* mh = nullptr;
    long rate = 0;
    int channels = 0;
    std::thread worker;
    std::atomic<uint8_t> mode{sm::kModeClosed};
    std::atomic<int32_t> lastError{eNone};
    std::atomic<bool> stop{false};
    std::atomic<int64_t> framesDone{0};
};

std::mutex gRegistry;
std::set<Module*> gModules;
// Last error of calls made with a handle that is not a module.
std::atomic<int32_t> gStrayError{eNone};

Module* lookup(sm::Handle h) {
    std::lock_guard<std::mutex> g(gRegistry);
    auto m = reinterpret_cast<Module*>(h);
    if (gModules.count(m)) return m;
    gStrayError = eBadHandle;
    return nullptr;
}

sm::Bool fail(Module* m, int32_t code) {
    if (m) m->lastError = code;
    return 0;
}

sm::Bool succeed(Module* m) {
    m->lastError = eNone;
    return 1;
}

sm::Bool answerText(const std::string& text, char* buffer, uint32_t* size) {
    if (!size) return 0;
    if (!buffer) {
        *size = static_cast<uint32_t>(text.size());
        return 1;
    }
    if (*size == 0) return 0;
    size_t n = std::min<size_t>(text.size(), *size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    *size = static_cast<uint32_t>(n);
    return 1;
}

std::string wavHeader(uint32_t rate, uint16_t channels, uint32_t dataBytes) {
    std::string h = "RIFF";
    zipfmt::append32(h, 36 + dataBytes);
    h += "WAVEfmt ";
    zipfmt::append32(h, 16);
    zipfmt::append16(h, 1);  // PCM
    zipfmt::append16(h, channels);
    zipfmt::append32(h, rate);
    zipfmt::append32(h, rate * channels * 2);
    zipfmt::append16(h, static_cast<uint16_t>(channels * 2));
    zipfmt::append16(h, 16);
    h += "data";
    zipfmt::append32(h, dataBytes);
    return h;
}

// Releases the decoder of a module whose worker has ended.
void closeDecoder(Module* m) {
    if (m->mh) {
        mpg123_close(m->mh);
        mpg123_delete(m->mh);
        m->mh = nullptr;
    }
}

void joinWorker(Module* m) {
    m->stop = true;
    if (m->worker.joinable()) m->worker.join();
    m->stop = false;
}

// Decodes the whole stream into `out`: the header with the data's length, the data.
int32_t decodeInto(Module* m, durable::DurableFile& out, size_t bufferSize) {
    const auto rate = static_cast<uint32_t>(m->rate);
    const auto channels = static_cast<uint16_t>(m->channels);
    if (!out.write(wavHeader(rate, channels, 0))) return eOutput;
    uint64_t dataBytes = 0;
    // Output goes out in large writes: fewer system calls than the player's buffer size.
    std::vector<unsigned char> buffer(std::max<size_t>(bufferSize, kWriteSize));
    for (;;) {
        if (m->stop) return eInternal;
        size_t done = 0;
        int rc = mpg123_read(m->mh, buffer.data(), buffer.size(), &done);
        if (done > 0) {
            if (!out.write(buffer.data(), done)) return eOutput;
            dataBytes += done;
            m->framesDone =
                static_cast<int64_t>(dataBytes / (2u * static_cast<unsigned>(m->channels)));
            if (dataBytes > 0xFFFFFFFFull - 36) return eOutput;  // beyond what a WAV file holds
        }
        if (rc == MPG123_DONE) break;
        if (rc == MPG123_NEW_FORMAT) {
            long newRate = 0;
            int newChannels = 0, encoding = 0;
            if (mpg123_getformat(m->mh, &newRate, &newChannels, &encoding) != MPG123_OK ||
                newRate != m->rate || newChannels != m->channels)
                return eInput;  // a format change cannot be told in one WAV header
            continue;
        }
        if (rc != MPG123_OK) return eInput;
    }
    const std::string header = wavHeader(rate, channels, static_cast<uint32_t>(dataBytes));
    return durable::writeAllAt(out.fd(), header.data(), header.size(), 0) ? eNone : eOutput;
}

// The decoding thread: MPEG stream -> temporary file -> rename to the output name. The
// temporary file has the program's temporary-name pattern, so that what a killed
// conversion leaves is cleared away with the other temporary files of the folder.
void decode(Module* m, std::string outName, size_t bufferSize) {
    durable::DurableFile out;
    int32_t error = out.open(outName) ? decodeInto(m, out, bufferSize) : eOutput;
    if (error == eNone && !out.commit() && !out.renamed()) error = eOutput;
    out.discard();
    m->lastError = error;
    m->mode = sm::kModeFinished;
}

}  // namespace

TM_SOUND_EXPORT sm::Handle TM_SOUND_CALL SMInitModule() {
    static std::once_flag once;
    static int initResult = MPG123_OK;
    std::call_once(once, [] {
#if MPG123_API_VERSION < 46
        initResult = mpg123_init();
#endif
    });
    if (initResult != MPG123_OK) return 0;
    auto m = new (std::nothrow) Module;
    if (!m) return 0;
    std::lock_guard<std::mutex> g(gRegistry);
    gModules.insert(m);
    return reinterpret_cast<sm::Handle>(m);
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMDeInitModule(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return;
    {
        std::lock_guard<std::mutex> g(gRegistry);
        gModules.erase(m);
    }
    joinWorker(m);
    closeDecoder(m);
    delete m;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMOpen(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->mode == sm::kModePlaying) return fail(m, eBadMode);
    if (m->inputMode != kInputFile || m->outputMode != kOutputFile) return fail(m, eNotImplemented);
    joinWorker(m);
    closeDecoder(m);
    m->mode = sm::kModeClosed;
    int err = MPG123_OK;
    m->mh = mpg123_new(nullptr, &err);
    if (!m->mh) return fail(m, eResources);
    mpg123_param(m->mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(m->mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(m->mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int encoding = 0;
    if (mpg123_open(m->mh, m->inputName.c_str()) != MPG123_OK ||
        mpg123_getformat(m->mh, &m->rate, &m->channels, &encoding) != MPG123_OK || m->rate <= 0 ||
        m->channels < 1 || m->channels > 2) {
        closeDecoder(m);
        return fail(m, eInput);
    }
    m->framesDone = 0;
    m->mode = sm::kModeOpened;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMClose(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    joinWorker(m);
    closeDecoder(m);
    m->mode = sm::kModeClosed;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMInitStream(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->outputMode != kOutputFile) return fail(m, eNotImplemented);
    if (m->mode != sm::kModeOpened) return fail(m, eBadMode);
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMPlay(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->mode != sm::kModeOpened) return fail(m, eBadMode);
    if (m->outputName.empty()) return fail(m, eOutput);
    if (m->useOutCB) return fail(m, eNotImplemented);
    m->lastError = eNone;
    m->mode = sm::kModePlaying;
    try {
        m->worker = std::thread(decode, m, m->outputName, static_cast<size_t>(m->bufferSize));
    } catch (...) {
        m->mode = sm::kModeOpened;
        return fail(m, eResources);
    }
    return 1;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMCanPause(sm::Handle h) {
    Module* m = lookup(h);
    return m ? fail(m, eNone) : 0;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMPause(sm::Handle h) {
    return fail(lookup(h), eNotImplemented);
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMResume(sm::Handle h) {
    return fail(lookup(h), eNotImplemented);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMStop(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->mode != sm::kModePlaying && m->mode != sm::kModeFinished) return fail(m, eBadMode);
    joinWorker(m);
    m->mode = sm::kModeFinished;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMCanSetPos(sm::Handle h) {
    Module* m = lookup(h);
    return m ? fail(m, eNone) : 0;
}

// Position in milliseconds of what has been decoded.
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetPos(sm::Handle h) {
    Module* m = lookup(h);
    if (!m || m->rate <= 0) return 0;
    return static_cast<int32_t>(m->framesDone * 1000 / m->rate);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetPos(sm::Handle h, int32_t) {
    return fail(lookup(h), eNotImplemented);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetAbout(sm::Handle, char* buffer, uint32_t* size) {
    return answerText("MPEG audio decoder plug-in, built on libmpg123", buffer, size);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetName(sm::Handle, char* buffer, uint32_t* size) {
    return answerText("MP3 decoder", buffer, size);
}

// Length of the opened stream in milliseconds (0 while unknown).
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetSize(sm::Handle h) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (!m->mh || m->rate <= 0 || m->mode == sm::kModePlaying) return 0;
    off_t samples = mpg123_length(m->mh);
    return samples > 0 ? static_cast<int32_t>(static_cast<int64_t>(samples) * 1000 / m->rate) : 0;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetInputMode(sm::Handle h, uint8_t mode) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (mode > 1) return fail(m, eBadMode);
    m->inputMode = mode;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetOutputMode(sm::Handle h, uint8_t mode) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (mode > 3) return fail(m, eBadMode);
    m->outputMode = mode;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetInputName(sm::Handle h, const char* name) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    m->inputName = name ? name : "";
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetOutputName(sm::Handle h, const char* name) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->mode == sm::kModePlaying) return fail(m, eBadMode);
    m->outputName = name ? name : "";
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetOutputDev(sm::Handle h, int32_t device) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    m->devNum = device;
    return succeed(m);
}

TM_SOUND_EXPORT uint8_t TM_SOUND_CALL SMGetPlayerMode(sm::Handle h) {
    Module* m = lookup(h);
    return m ? m->mode.load() : sm::kModeClosed;
}

TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMLastError(sm::Handle h) {
    Module* m = lookup(h);
    return m ? m->lastError.load() : gStrayError.load();
}

TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetVersion() {
    return 100;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetBuffers(sm::Handle h, int32_t count, int32_t size) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (count < 1 || size < 1) return fail(m, eBadMode);
    m->buffers = count;
    m->bufferSize = size;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetPriority(sm::Handle h, int32_t priority) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    m->priority = priority;
    return succeed(m);
}

// Only the whole stream (start 0, end 0) is supported.
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetLimits(sm::Handle h, int32_t start, int32_t end) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (start != 0 || end != 0) return fail(m, eNotImplemented);
    m->startPos = start;
    m->endPos = end;
    return succeed(m);
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMSetOutCB(sm::Handle h, sm::OutputDataFn, sm::OutputInitDoneFn,
                                              void*) {
    lookup(h);  // output callbacks are not used by file output
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetVolume(sm::Handle h, uint32_t*) {
    return fail(lookup(h), eNotImplemented);
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMSetVolume(sm::Handle, uint32_t) {}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMCanSetVolume(sm::Handle h, sm::Bool* can) {
    Module* m = lookup(h);
    if (!m) return 0;
    if (can) *can = 0;  // file output has no volume
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetExts(sm::Handle, char* buffer, uint32_t* size) {
    return answerText("*.mp3;*.mp2;*.mp1", buffer, size);
}

// Sample rate and channel count of the opened stream.
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetInfo1(sm::Handle h, int32_t* rate, int32_t* channels) {
    Module* m = lookup(h);
    if (!m) return 0;
    if (m->mode == sm::kModeClosed) return fail(m, eBadMode);
    if (rate) *rate = static_cast<int32_t>(m->rate);
    if (channels) *channels = m->channels;
    return succeed(m);
}

// Bits per output sample and the stream's bit rate in kbit/s.
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetInfo2(sm::Handle h, int32_t* bits, int32_t* bitrate) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    if (m->mode != sm::kModeOpened) return fail(m, eBadMode);
    mpg123_frameinfo info{};
    if (bits) *bits = 16;
    if (bitrate) *bitrate = mpg123_info(m->mh, &info) == MPG123_OK ? info.bitrate : 0;
    return succeed(m);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetDevNum(sm::Handle h, int32_t device) {
    Module* m = lookup(h);
    if (!m) return 0;
    std::lock_guard<std::mutex> g(m->lock);
    m->devNum = device;
    return succeed(m);
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMSetInCB(sm::Handle h, sm::InputOpenFn, sm::InputCloseFn,
                                             sm::InputGetSizeFn, sm::InputSeekFn, sm::InputReadFn,
                                             void*) {
    lookup(h);  // input callbacks are not used by file input
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMSetWindow(sm::Handle h, void*) {
    lookup(h);
}

TM_SOUND_EXPORT void TM_SOUND_CALL SMUseOutCB(sm::Handle h, sm::Bool use) {
    Module* m = lookup(h);
    if (!m) return;
    std::lock_guard<std::mutex> g(m->lock);
    m->useOutCB = use != 0;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMUseEQ(sm::Handle h, sm::Bool) {
    return fail(lookup(h), eNotImplemented);
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMHasEQ(sm::Handle h) {
    Module* m = lookup(h);
    return m ? fail(m, eNone) : 0;
}

TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMEQ(sm::Handle h, int32_t, int32_t) {
    return fail(lookup(h), eNotImplemented);
}
