// A stand-in sound plug-in. It appends one line per call to the file named by
// TM_FAKE_PLUGIN_LOG ("name|arguments"; "load" and "unload" when the library comes and
// goes), answers false for the export named by TM_FAKE_PLUGIN_FAIL with the error code
// TM_FAKE_PLUGIN_ERROR, reports a volume when TM_FAKE_PLUGIN_VOLUME is set, and on SMPlay
// writes a small file under the output name unless TM_FAKE_PLUGIN_NOWAV is set. The
// player mode is 3 right after SMPlay, or after TM_FAKE_PLUGIN_BUSY queries answered 2. Built with
// FAKE_ALL_EXPORTS=0 it lacks SMEQ.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/SoundPlayer.h"

namespace {

// Decimal text of a number. (std::to_string is avoided: its unique template statics would keep
// the library loaded after dlclose.)
std::string num(long long v) {
    char b[32];
    std::snprintf(b, sizeof b, "%lld", v);
    return b;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void note(const std::string& line) {
    std::string path = env("TM_FAKE_PLUGIN_LOG");
    if (path.empty()) return;
    if (FILE* f = std::fopen(path.c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

int32_t gLastError = 0;
uint8_t gMode = 0;
std::string gOutputName;

// Records the call; false when this export is told to fail.
bool call(const char* name, const std::string& args = std::string()) {
    note(std::string(name) + "|" + args);
    if (env("TM_FAKE_PLUGIN_FAIL") == name) {
        gLastError = std::atoi(env("TM_FAKE_PLUGIN_ERROR").c_str());
        return false;
    }
    gLastError = 0;
    return true;
}

sm::Bool text(const char* name, const char* value, char* buffer, uint32_t* size) {
    if (!call(name, buffer ? "buffer " + num(*size) : "size")) return 0;
    if (!buffer) {
        *size = static_cast<uint32_t>(std::strlen(value));
        return 1;
    }
    std::snprintf(buffer, *size, "%s", value);
    return 1;
}

__attribute__((constructor)) void loaded() {
    note("load|");
}
__attribute__((destructor)) void unloaded() {
    note("unload|");
}

}  // namespace

#define FAKE_HANDLE_BOOL(name)                                \
    TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL name(sm::Handle) { \
        return call(#name) ? 1 : 0;                           \
    }
#define FAKE_INT(name)                                                   \
    TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL name(sm::Handle, int32_t v) { \
        return call(#name, num(v)) ? 1 : 0;                              \
    }
#define FAKE_TWO_INTS(name)                                                         \
    TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL name(sm::Handle, int32_t a, int32_t b) { \
        return call(#name, num(a) + "," + num(b)) ? 1 : 0;                          \
    }
#define FAKE_MODE(name)                                                  \
    TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL name(sm::Handle, uint8_t v) { \
        return call(#name, num(v)) ? 1 : 0;                              \
    }

TM_SOUND_EXPORT sm::Handle TM_SOUND_CALL SMInitModule() {
    gMode = 0;
    return call("SMInitModule") ? 0x5A : 0;
}
TM_SOUND_EXPORT void TM_SOUND_CALL SMDeInitModule(sm::Handle h) {
    call("SMDeInitModule", num(static_cast<long long>(h)));
}
FAKE_HANDLE_BOOL(SMOpen)
FAKE_HANDLE_BOOL(SMClose)
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMPlay(sm::Handle) {
    if (!call("SMPlay")) return 0;
    if (env("TM_FAKE_PLUGIN_NOWAV").empty() && !gOutputName.empty()) {
        if (FILE* f = std::fopen(gOutputName.c_str(), "wb")) {
            std::fputs("RIFF", f);
            std::fclose(f);
        }
    }
    gMode = 3;
    return 1;
}
FAKE_HANDLE_BOOL(SMCanPause)
FAKE_HANDLE_BOOL(SMPause)
FAKE_HANDLE_BOOL(SMResume)
FAKE_HANDLE_BOOL(SMStop)
FAKE_HANDLE_BOOL(SMCanSetPos)
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetPos(sm::Handle) {
    return 0;
}
FAKE_INT(SMSetPos)
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetAbout(sm::Handle, char* b, uint32_t* s) {
    return text("SMGetAbout", "Fake decoder for tests", b, s);
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetName(sm::Handle, char* b, uint32_t* s) {
    return text("SMGetName", "Fake decoder", b, s);
}
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetSize(sm::Handle) {
    return 0;
}
FAKE_MODE(SMSetInputMode)
FAKE_MODE(SMSetOutputMode)
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetInputName(sm::Handle, const char* n) {
    return call("SMSetInputName", n) ? 1 : 0;
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMSetOutputName(sm::Handle, const char* n) {
    if (!call("SMSetOutputName", n)) return 0;
    gOutputName = n;
    return 1;
}
FAKE_INT(SMSetOutputDev)
TM_SOUND_EXPORT uint8_t TM_SOUND_CALL SMGetPlayerMode(sm::Handle) {
    static int queries = 0;
    if (gMode == 3 && ++queries <= std::atoi(env("TM_FAKE_PLUGIN_BUSY").c_str())) return 2;
    return gMode;
}
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMLastError(sm::Handle) {
    return gLastError;
}
TM_SOUND_EXPORT int32_t TM_SOUND_CALL SMGetVersion() {
    return 42;
}
FAKE_TWO_INTS(SMSetBuffers)
FAKE_INT(SMSetPriority)
FAKE_TWO_INTS(SMSetLimits)
TM_SOUND_EXPORT void TM_SOUND_CALL SMSetOutCB(sm::Handle, sm::OutputDataFn, sm::OutputInitDoneFn,
                                              void*) {
    call("SMSetOutCB");
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetVolume(sm::Handle, uint32_t* v) {
    if (!call("SMGetVolume")) return 0;
    *v = static_cast<uint32_t>(std::strtoul(env("TM_FAKE_PLUGIN_VOLUME").c_str(), nullptr, 0));
    return 1;
}
TM_SOUND_EXPORT void TM_SOUND_CALL SMSetVolume(sm::Handle, uint32_t v) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", v);
    call("SMSetVolume", hex);
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMCanSetVolume(sm::Handle, sm::Bool* can) {
    if (!call("SMCanSetVolume")) return 0;
    *can = env("TM_FAKE_PLUGIN_VOLUME").empty() ? 0 : 1;
    return 1;
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetExts(sm::Handle, char* b, uint32_t* s) {
    return text("SMGetExts", "*.fake", b, s);
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetInfo1(sm::Handle, int32_t*, int32_t*) {
    return 0;
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMGetInfo2(sm::Handle, int32_t*, int32_t*) {
    return 0;
}
FAKE_HANDLE_BOOL(SMInitStream)
FAKE_INT(SMSetDevNum)
TM_SOUND_EXPORT void TM_SOUND_CALL SMSetInCB(sm::Handle, sm::InputOpenFn, sm::InputCloseFn,
                                             sm::InputGetSizeFn, sm::InputSeekFn, sm::InputReadFn,
                                             void*) {
    call("SMSetInCB");
}
TM_SOUND_EXPORT void TM_SOUND_CALL SMSetWindow(sm::Handle, void*) {
    call("SMSetWindow");
}
TM_SOUND_EXPORT void TM_SOUND_CALL SMUseOutCB(sm::Handle, sm::Bool u) {
    call("SMUseOutCB", num(u));
}
TM_SOUND_EXPORT sm::Bool TM_SOUND_CALL SMUseEQ(sm::Handle, sm::Bool u) {
    return call("SMUseEQ", num(u)) ? 1 : 0;
}
FAKE_HANDLE_BOOL(SMHasEQ)
#if FAKE_ALL_EXPORTS
FAKE_TWO_INTS(SMEQ)
#endif
