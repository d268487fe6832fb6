#pragma once
// The sound player component: loads the sound plug-in module at run time and drives it
// through its SM exports. The first half of this header is the plug-in's calling
// interface, shared by the player and by the plug-ins built here.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// Calling convention of every plug-in export and callback: the standard system convention,
// which differs from the default only on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define TM_SOUND_CALL __stdcall
#else
#define TM_SOUND_CALL
#endif

#if defined(_WIN32)
#define TM_SOUND_EXPORT extern "C" __declspec(dllexport)
#else
#define TM_SOUND_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace sm {

using Handle = uintptr_t;  // 0 = none
using Bool = uint8_t;      // 8-bit truth value, false = 0

// Player modes answered by SMGetPlayerMode.
inline constexpr uint8_t kModeClosed = 0;
inline constexpr uint8_t kModeOpened = 1;
inline constexpr uint8_t kModePlaying = 2;
inline constexpr uint8_t kModeFinished = 3;

// Callbacks into the component; `owner` is the value registered with SMSetOutCB/SMSetInCB.
using OutputDataFn = Bool(TM_SOUND_CALL*)(void* owner, const void* data, uint32_t size);
// init = 1 before the first data (with the stream's format), 0 after the last.
using OutputInitDoneFn = Bool(TM_SOUND_CALL*)(void* owner, Bool init, int32_t rate,
                                              int32_t channels, int32_t bits);
using InputOpenFn = Bool(TM_SOUND_CALL*)(void* owner, const char* name);
using InputCloseFn = Bool(TM_SOUND_CALL*)(void* owner);
using InputGetSizeFn = Bool(TM_SOUND_CALL*)(void* owner, int32_t* size);
using InputSeekFn = Bool(TM_SOUND_CALL*)(void* owner, int32_t position);
using InputReadFn = Bool(TM_SOUND_CALL*)(void* owner, void* buffer, uint32_t size, uint32_t* done);

// The 41 exports.
using InitModuleFn = Handle(TM_SOUND_CALL*)();
using HandleFn = void(TM_SOUND_CALL*)(Handle);
using HandleBoolFn = Bool(TM_SOUND_CALL*)(Handle);
using GetIntFn = int32_t(TM_SOUND_CALL*)(Handle);
using SetIntFn = Bool(TM_SOUND_CALL*)(Handle, int32_t);
using SetTwoIntsFn = Bool(TM_SOUND_CALL*)(Handle, int32_t, int32_t);
using GetTextFn = Bool(TM_SOUND_CALL*)(Handle, char* buffer, uint32_t* size);
using SetModeFn = Bool(TM_SOUND_CALL*)(Handle, uint8_t);
using SetNameFn = Bool(TM_SOUND_CALL*)(Handle, const char*);
using GetPlayerModeFn = uint8_t(TM_SOUND_CALL*)(Handle);
using GetVersionFn = int32_t(TM_SOUND_CALL*)();
using SetOutCBFn = void(TM_SOUND_CALL*)(Handle, OutputDataFn, OutputInitDoneFn, void* owner);
using SetInCBFn = void(TM_SOUND_CALL*)(Handle, InputOpenFn, InputCloseFn, InputGetSizeFn,
                                       InputSeekFn, InputReadFn, void* owner);
using GetVolumeFn = Bool(TM_SOUND_CALL*)(Handle, uint32_t*);
using SetVolumeFn = void(TM_SOUND_CALL*)(Handle, uint32_t);
using CanSetVolumeFn = Bool(TM_SOUND_CALL*)(Handle, Bool*);
using GetInfoFn = Bool(TM_SOUND_CALL*)(Handle, int32_t*, int32_t*);
using SetWindowFn = void(TM_SOUND_CALL*)(Handle, void* window);
using UseFn = void(TM_SOUND_CALL*)(Handle, Bool);
using UseEQFn = Bool(TM_SOUND_CALL*)(Handle, Bool);
using EQFn = Bool(TM_SOUND_CALL*)(Handle, int32_t band, int32_t value);

// Export names in the order the player looks them up.
inline constexpr const char* kExportNames[41] = {"SMInitModule",
                                                 "SMDeInitModule",
                                                 "SMOpen",
                                                 "SMClose",
                                                 "SMPlay",
                                                 "SMCanPause",
                                                 "SMPause",
                                                 "SMResume",
                                                 "SMStop",
                                                 "SMCanSetPos",
                                                 "SMGetPos",
                                                 "SMSetPos",
                                                 "SMGetAbout",
                                                 "SMGetName",
                                                 "SMGetSize",
                                                 "SMSetInputMode",
                                                 "SMSetOutputMode",
                                                 "SMSetInputName",
                                                 "SMSetOutputName",
                                                 "SMSetOutputDev",
                                                 "SMGetPlayerMode",
                                                 "SMLastError",
                                                 "SMGetVersion",
                                                 "SMSetBuffers",
                                                 "SMSetPriority",
                                                 "SMSetLimits",
                                                 "SMSetOutCB",
                                                 "SMGetVolume",
                                                 "SMSetVolume",
                                                 "SMCanSetVolume",
                                                 "SMGetExts",
                                                 "SMGetInfo1",
                                                 "SMGetInfo2",
                                                 "SMInitStream",
                                                 "SMSetDevNum",
                                                 "SMSetInCB",
                                                 "SMSetWindow",
                                                 "SMUseOutCB",
                                                 "SMUseEQ",
                                                 "SMHasEQ",
                                                 "SMEQ"};

}  // namespace sm

// Error of the sound player; the message is the code's text.
class ESoundPlayer : public std::runtime_error {
  public:
    explicit ESoundPlayer(int code);
    int Code() const { return code_; }
    // The text of `code` (0..11); codes without a text read "Sound player error <code>".
    static std::string messageFor(int code);

  private:
    int code_;
};

enum class TSoundInputMode : uint8_t { imFile, imCallback };
enum class TSoundOutputMode : uint8_t { omMMSystem, omFile, omDirectSound, omCallback };

class TSoundPlayer {
  public:
    TSoundPlayer();
    virtual ~TSoundPlayer();
    TSoundPlayer(const TSoundPlayer&) = delete;
    TSoundPlayer& operator=(const TSoundPlayer&) = delete;

    // Published properties. While a module is loaded a setter passes the value on first;
    // a false answer raises ESoundPlayer with the module's last error, and the value is
    // not stored.
    TSoundInputMode InputMode() const { return inputMode_; }
    void setInputMode(TSoundInputMode v);
    const std::string& InputName() const { return inputName_; }
    void setInputName(const std::string& v);
    TSoundOutputMode OutputMode() const { return outputMode_; }
    void setOutputMode(TSoundOutputMode v);
    const std::string& OutputName() const { return outputName_; }
    void setOutputName(const std::string& v);
    const std::string& PathToDLL() const { return pathToDll_; }
    void setPathToDLL(const std::string& v) { pathToDll_ = v; }
    std::string ModuleName() const;
    std::string About() const;
    int32_t Version() const;
    int32_t StartPos() const { return startPos_; }
    void setStartPos(int32_t v);
    int32_t EndPos() const { return endPos_; }
    void setEndPos(int32_t v);
    int32_t Priority() const { return priority_; }
    void setPriority(int32_t v);
    int32_t BuffersCount() const { return buffersCount_; }
    void setBuffersCount(int32_t v);
    int32_t BufferSize() const { return bufferSize_; }
    void setBufferSize(int32_t v);
    std::string Extensions() const;
    int32_t OutputDevNum() const { return outputDevNum_; }
    void setOutputDevNum(int32_t v);
    bool Initialized() const { return handle_ != 0; }
    void setInitialized(bool v);
    bool UseEqualizer() const { return useEqualizer_; }
    void setUseEqualizer(bool v);

    // Events.
    std::function<bool(int32_t rate, int32_t channels, int32_t bits)> OnOutputInit;
    std::function<bool()> OnOutputDone;
    std::function<bool(const void* data, uint32_t size)> OnOutput;
    std::function<bool(const std::string& name)> OnInputOpen;
    std::function<bool()> OnInputClose;
    std::function<bool(int32_t& size)> OnInputGetSize;
    std::function<bool(int32_t position)> OnInputSeek;
    std::function<bool(void* buffer, uint32_t size, uint32_t& done)> OnInputRead;

    void LoadModule();
    void UnloadModule();
    void OpenInput();
    void OpenOutput();
    void Play();
    uint8_t GetPlayerMode();
    // The module's last error code as it reports it now (0 when no module is loaded).
    int32_t ModuleLastError();
    int32_t LastError() const { return lastError_; }

  protected:
    // Callback handlers: each fires its event when one is assigned, else answers false.
    virtual bool DoOutputInit(int32_t rate, int32_t channels, int32_t bits);
    virtual bool DoOutputDone();
    virtual bool DoOutput(const void* data, uint32_t size);
    virtual bool DoInputOpen(const std::string& name);
    virtual bool DoInputClose();
    virtual bool DoInputGetSize(int32_t& size);
    virtual bool DoInputSeek(int32_t position);
    virtual bool DoInputRead(void* buffer, uint32_t size, uint32_t& done);

  private:
    struct Exports;
    struct Callbacks;
    friend struct Callbacks;

    void requireModule() const;
    [[noreturn]] void raiseLastError();
    // Handles a false answer of SMOpen, SMInitStream, SMPlay or SMCanSetVolume.
    void checkOperation(sm::Bool ok);
    std::string queryText(sm::GetTextFn fn, const std::string& failed) const;
    void createWindow();
    void destroyWindow();

    TSoundInputMode inputMode_ = TSoundInputMode::imFile;
    std::string inputName_;
    TSoundOutputMode outputMode_ = TSoundOutputMode::omMMSystem;
    std::string outputName_;
    std::string pathToDll_;
    int32_t startPos_ = 0, endPos_ = 0;
    int32_t priority_ = 0;
    int32_t buffersCount_ = 8;
    int32_t bufferSize_ = 16384;
    int32_t outputDevNum_ = 0;
    bool useEqualizer_ = false;

    void* library_ = nullptr;
    Exports* fn_ = nullptr;
    sm::Handle handle_ = 0;
    int32_t lastError_ = 0;
    uint16_t volume_[2] = {0, 0};
    void* window_ = nullptr;  // hidden message window (Windows); null elsewhere
};
