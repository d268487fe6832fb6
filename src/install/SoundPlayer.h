#pragma once
// The sound player component: loads the sound plug-in module at run time and drives it
// through its SM exports, declared in base/SoundPluginAbi.h.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "base/SoundPluginAbi.h"

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
