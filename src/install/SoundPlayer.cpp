#include "install/SoundPlayer.h"

#include <array>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "platform/Prompter.h"

namespace {

const char* const kMessages[12] = {
    "No error",
    "Requested operation is not implemented in the decoder",
    "Incorrect decoder mode",
    "Internal decoder error",
    "Invalid object handle passed to decoder",
    "Input stream failure",
    "Output device failure",
    "Not enough memory to perform an operation",
    "Decoder failed to allocate resources",
    "One of callback functions needed to perform an operation not defined",
    "Failed to load or initialize decoder module",
    "Module not initialized"};

// Positions in sm::kExportNames.
enum Export {
    xInitModule,
    xDeInitModule,
    xOpen,
    xClose,
    xPlay,
    xCanPause,
    xPause,
    xResume,
    xStop,
    xCanSetPos,
    xGetPos,
    xSetPos,
    xGetAbout,
    xGetName,
    xGetSize,
    xSetInputMode,
    xSetOutputMode,
    xSetInputName,
    xSetOutputName,
    xSetOutputDev,
    xGetPlayerMode,
    xLastError,
    xGetVersion,
    xSetBuffers,
    xSetPriority,
    xSetLimits,
    xSetOutCB,
    xGetVolume,
    xSetVolume,
    xCanSetVolume,
    xGetExts,
    xGetInfo1,
    xGetInfo2,
    xInitStream,
    xSetDevNum,
    xSetInCB,
    xSetWindow,
    xUseOutCB,
    xUseEQ,
    xHasEQ,
    xEQ,
    xCount
};
static_assert(xCount == 41);

void* openLibrary(const std::string& path) {
#ifdef _WIN32
    return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* findSymbol(void* lib, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
#else
    return dlsym(lib, name);
#endif
}

void closeLibrary(void* lib) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(lib));
#else
    dlclose(lib);
#endif
}

#ifdef _WIN32
LRESULT CALLBACK soundWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_QUERYENDSESSION) return 1;
    try {
        return DefWindowProcA(wnd, msg, wp, lp);
    } catch (const std::exception& e) {
        showError(e.what());
        return 0;
    }
}
#endif

}  // namespace

ESoundPlayer::ESoundPlayer(int code) : std::runtime_error(messageFor(code)), code_(code) {}

std::string ESoundPlayer::messageFor(int code) {
    if (code >= 0 && code < 12) return kMessages[code];
    return "Sound player error " + std::to_string(code);
}

struct TSoundPlayer::Exports {
    std::array<void*, xCount> p{};
    template <typename F>
    F get(Export x) const {
        return reinterpret_cast<F>(p[x]);
    }
};

// Plain functions handed to the module; `owner` is the component.
struct TSoundPlayer::Callbacks {
    static TSoundPlayer* self(void* owner) { return static_cast<TSoundPlayer*>(owner); }
    static sm::Bool TM_SOUND_CALL output(void* owner, const void* data, uint32_t size) {
        return self(owner)->DoOutput(data, size) ? 1 : 0;
    }
    static sm::Bool TM_SOUND_CALL initDone(void* owner, sm::Bool init, int32_t rate,
                                           int32_t channels, int32_t bits) {
        return (init ? self(owner)->DoOutputInit(rate, channels, bits)
                     : self(owner)->DoOutputDone())
                   ? 1
                   : 0;
    }
    static sm::Bool TM_SOUND_CALL open(void* owner, const char* name) {
        return self(owner)->DoInputOpen(name ? name : "") ? 1 : 0;
    }
    static sm::Bool TM_SOUND_CALL close(void* owner) { return self(owner)->DoInputClose() ? 1 : 0; }
    static sm::Bool TM_SOUND_CALL getSize(void* owner, int32_t* size) {
        int32_t s = 0;
        bool ok = self(owner)->DoInputGetSize(s);
        if (size) *size = s;
        return ok ? 1 : 0;
    }
    static sm::Bool TM_SOUND_CALL seek(void* owner, int32_t position) {
        return self(owner)->DoInputSeek(position) ? 1 : 0;
    }
    static sm::Bool TM_SOUND_CALL read(void* owner, void* buffer, uint32_t size, uint32_t* done) {
        uint32_t d = 0;
        bool ok = self(owner)->DoInputRead(buffer, size, d);
        if (done) *done = d;
        return ok ? 1 : 0;
    }
};

TSoundPlayer::TSoundPlayer() {
    createWindow();
}

TSoundPlayer::~TSoundPlayer() {
    if (handle_ != 0 || library_) UnloadModule();
    destroyWindow();
}

void TSoundPlayer::createWindow() {
#ifdef _WIN32
    static const char* kClass = "TSoundPlayerWindow";
    static bool registered = false;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = soundWindowProc;
        wc.hInstance = inst;
        wc.lpszClassName = kClass;
        registered = RegisterClassA(&wc) != 0;
    }
    window_ = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
#endif
}

void TSoundPlayer::destroyWindow() {
#ifdef _WIN32
    if (window_) DestroyWindow(static_cast<HWND>(window_));
#endif
    window_ = nullptr;
}

void TSoundPlayer::requireModule() const {
    if (handle_ == 0) throw ESoundPlayer(11);
}

void TSoundPlayer::raiseLastError() {
    lastError_ = fn_->get<sm::GetIntFn>(xLastError)(handle_);
    throw ESoundPlayer(lastError_);
}

void TSoundPlayer::checkOperation(sm::Bool ok) {
    if (ok) return;
    lastError_ = fn_->get<sm::GetIntFn>(xLastError)(handle_);
    if (lastError_ > 0) throw ESoundPlayer(lastError_);
}

void TSoundPlayer::setInputMode(TSoundInputMode v) {
    if (handle_ && !fn_->get<sm::SetModeFn>(xSetInputMode)(handle_, static_cast<uint8_t>(v)))
        raiseLastError();
    inputMode_ = v;
}

void TSoundPlayer::setInputName(const std::string& v) {
    if (handle_ && !fn_->get<sm::SetNameFn>(xSetInputName)(handle_, v.c_str())) raiseLastError();
    inputName_ = v;
}

void TSoundPlayer::setOutputMode(TSoundOutputMode v) {
    if (handle_ && !fn_->get<sm::SetModeFn>(xSetOutputMode)(handle_, static_cast<uint8_t>(v)))
        raiseLastError();
    outputMode_ = v;
}

void TSoundPlayer::setOutputName(const std::string& v) {
    if (handle_ && !fn_->get<sm::SetNameFn>(xSetOutputName)(handle_, v.c_str())) raiseLastError();
    outputName_ = v;
}

void TSoundPlayer::setStartPos(int32_t v) {
    if (handle_ && !fn_->get<sm::SetTwoIntsFn>(xSetLimits)(handle_, v, endPos_)) raiseLastError();
    startPos_ = v;
}

void TSoundPlayer::setEndPos(int32_t v) {
    if (handle_ && !fn_->get<sm::SetTwoIntsFn>(xSetLimits)(handle_, startPos_, v)) raiseLastError();
    endPos_ = v;
}

void TSoundPlayer::setPriority(int32_t v) {
    if (handle_ && !fn_->get<sm::SetIntFn>(xSetPriority)(handle_, v)) raiseLastError();
    priority_ = v;
}

void TSoundPlayer::setBuffersCount(int32_t v) {
    if (handle_ && !fn_->get<sm::SetTwoIntsFn>(xSetBuffers)(handle_, v, bufferSize_))
        raiseLastError();
    buffersCount_ = v;
}

void TSoundPlayer::setBufferSize(int32_t v) {
    if (handle_ && !fn_->get<sm::SetTwoIntsFn>(xSetBuffers)(handle_, buffersCount_, v))
        raiseLastError();
    bufferSize_ = v;
}

void TSoundPlayer::setOutputDevNum(int32_t v) {
    if (handle_ && !fn_->get<sm::SetIntFn>(xSetDevNum)(handle_, v)) raiseLastError();
    outputDevNum_ = v;
}

void TSoundPlayer::setInitialized(bool v) {
    if (v == Initialized()) return;
    if (v)
        LoadModule();
    else
        UnloadModule();
}

void TSoundPlayer::setUseEqualizer(bool v) {
    if (handle_ && fn_->get<sm::HandleBoolFn>(xHasEQ)(handle_) &&
        !fn_->get<sm::UseEQFn>(xUseEQ)(handle_, v ? 1 : 0))
        raiseLastError();
    useEqualizer_ = v;
}

std::string TSoundPlayer::queryText(sm::GetTextFn fn, const std::string& failed) const {
    uint32_t size = 0;
    if (!fn(handle_, nullptr, &size)) return failed;
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    uint32_t capacity = size + 1;
    if (!fn(handle_, buffer.data(), &capacity)) return failed;
    buffer.back() = '\0';
    return std::string(buffer.data());
}

std::string TSoundPlayer::ModuleName() const {
    if (handle_ == 0) return "(Module not initialized)";
    return queryText(fn_->get<sm::GetTextFn>(xGetName), "Unknown module");
}

std::string TSoundPlayer::About() const {
    if (handle_ == 0) return "(Module not initialized)";
    return queryText(fn_->get<sm::GetTextFn>(xGetAbout), "Unknown module ... ");
}

int32_t TSoundPlayer::Version() const {
    if (handle_ == 0) return -1;
    return fn_->get<sm::GetVersionFn>(xGetVersion)();
}

std::string TSoundPlayer::Extensions() const {
    if (handle_ == 0) return std::string();
    return queryText(fn_->get<sm::GetTextFn>(xGetExts), std::string());
}

void TSoundPlayer::LoadModule() {
    if (handle_ != 0 || library_) UnloadModule();
    void* lib = openLibrary(pathToDll_);
    if (!lib) throw ESoundPlayer(10);
    auto exports = new Exports;
    for (int i = 0; i < xCount; ++i) {
        exports->p[static_cast<size_t>(i)] = findSymbol(lib, sm::kExportNames[i]);
        if (!exports->p[static_cast<size_t>(i)]) {
            delete exports;
            closeLibrary(lib);
            throw ESoundPlayer(10);
        }
    }
    sm::Handle h = exports->get<sm::InitModuleFn>(xInitModule)();
    if (h == 0) {
        delete exports;
        closeLibrary(lib);
        throw ESoundPlayer(11);
    }
    library_ = lib;
    fn_ = exports;
    handle_ = h;
    fn_->get<sm::SetOutCBFn>(xSetOutCB)(handle_, &Callbacks::output, &Callbacks::initDone, this);
    fn_->get<sm::SetInCBFn>(xSetInCB)(handle_, &Callbacks::open, &Callbacks::close,
                                      &Callbacks::getSize, &Callbacks::seek, &Callbacks::read,
                                      this);
}

void TSoundPlayer::UnloadModule() {
    if (handle_ != 0) {
        fn_->get<sm::HandleFn>(xDeInitModule)(handle_);
        handle_ = 0;
    }
    if (library_) {
        closeLibrary(library_);
        library_ = nullptr;
    }
    delete fn_;
    fn_ = nullptr;
}

void TSoundPlayer::OpenInput() {
    requireModule();
    setInputMode(inputMode_);
    setInputName(inputName_);
    setOutputMode(outputMode_);
    setOutputName(outputName_);
    try {
        setPriority(priority_);
    } catch (const ESoundPlayer&) {
        // A priority the module refuses does not stop the input from opening.
    }
    checkOperation(fn_->get<sm::HandleBoolFn>(xOpen)(handle_));
}

void TSoundPlayer::OpenOutput() {
    requireModule();
    setOutputDevNum(outputDevNum_);
    checkOperation(fn_->get<sm::HandleBoolFn>(xInitStream)(handle_));
}

void TSoundPlayer::Play() {
    requireModule();
    setStartPos(startPos_);
    setEndPos(endPos_);
    fn_->get<sm::SetWindowFn>(xSetWindow)(handle_, window_);
    bool callbacks = OnOutput && OnOutputInit && OnOutputDone;
    fn_->get<sm::UseFn>(xUseOutCB)(handle_, callbacks ? 1 : 0);
    checkOperation(fn_->get<sm::HandleBoolFn>(xPlay)(handle_));
    sm::Bool canSet = 0;
    sm::Bool ok = fn_->get<sm::CanSetVolumeFn>(xCanSetVolume)(handle_, &canSet);
    checkOperation(ok);
    if (!ok || !canSet) return;
    uint32_t volume = 0;
    if (fn_->get<sm::GetVolumeFn>(xGetVolume)(handle_, &volume)) {
        volume_[0] = static_cast<uint16_t>(volume & 0xFFFF);
        volume_[1] = static_cast<uint16_t>(volume >> 16);
    } else if (outputMode_ == TSoundOutputMode::omMMSystem) {
        checkOperation(0);
    }
    // The pair goes back in the halves it was read from, so that left and right keep
    // their levels.
    fn_->get<sm::SetVolumeFn>(xSetVolume)(
        handle_, static_cast<uint32_t>(volume_[0]) | (static_cast<uint32_t>(volume_[1]) << 16));
}

uint8_t TSoundPlayer::GetPlayerMode() {
    requireModule();
    return fn_->get<sm::GetPlayerModeFn>(xGetPlayerMode)(handle_);
}

int32_t TSoundPlayer::ModuleLastError() {
    if (handle_ == 0) return 0;
    return fn_->get<sm::GetIntFn>(xLastError)(handle_);
}

bool TSoundPlayer::DoOutputInit(int32_t rate, int32_t channels, int32_t bits) {
    return OnOutputInit ? OnOutputInit(rate, channels, bits) : false;
}
bool TSoundPlayer::DoOutputDone() {
    return OnOutputDone ? OnOutputDone() : false;
}
bool TSoundPlayer::DoOutput(const void* data, uint32_t size) {
    return OnOutput ? OnOutput(data, size) : false;
}
bool TSoundPlayer::DoInputOpen(const std::string& name) {
    return OnInputOpen ? OnInputOpen(name) : false;
}
bool TSoundPlayer::DoInputClose() {
    return OnInputClose ? OnInputClose() : false;
}
bool TSoundPlayer::DoInputGetSize(int32_t& size) {
    return OnInputGetSize ? OnInputGetSize(size) : false;
}
bool TSoundPlayer::DoInputSeek(int32_t position) {
    return OnInputSeek ? OnInputSeek(position) : false;
}
bool TSoundPlayer::DoInputRead(void* buffer, uint32_t size, uint32_t& done) {
    return OnInputRead ? OnInputRead(buffer, size, done) : false;
}
