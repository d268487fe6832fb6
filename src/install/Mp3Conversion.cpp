#include "install/Mp3Conversion.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "game/ComponentProgress.h"
#include "install/SoundPlayer.h"
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

// Plug-in mode of a finished decoding.
constexpr uint8_t kFinished = 3;

std::string withWavExtension(const std::string& path) {
    std::string ext = text::extractFileExt(path);
    return path.substr(0, path.size() - ext.size()) + ".wav";
}

unsigned onePerCore() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::unique_ptr<TSoundPlayer> makePlayer(const std::string& exeDir) {
    auto player = std::make_unique<TSoundPlayer>();
    player->setPathToDLL(apppaths::libraryDir(exeDir) + apppaths::kPluginName);
    player->setInputMode(TSoundInputMode::imFile);
    player->setOutputMode(TSoundOutputMode::omFile);
    player->setOutputDevNum(-1);
    player->setBuffersCount(8);
    player->setBufferSize(8196);
    player->setPriority(1);
    return player;
}

}  // namespace

Mp3Converter::Mp3Converter(ProgressSink& progress, const std::string& exeDir, unsigned decoders)
    : progress_(progress), exeDir_(exeDir), decoders_(decoders == 0 ? onePerCore() : decoders) {}

// Decoders still running are stopped by their players; the plug-in leaves no partial WAV
// file and their MP3 files stay.
Mp3Converter::~Mp3Converter() = default;

void Mp3Converter::add(const std::string& mp3) {
    waiting_.push_back(mp3);
}

bool Mp3Converter::stopped() const {
    return failure_ || (cancelled && cancelled());
}

bool Mp3Converter::running() const {
    return std::any_of(decoders_.begin(), decoders_.end(),
                       [](const Decoder& d) { return !d.mp3.empty(); });
}

bool Mp3Converter::poll() {
    startWaiting();
    bool completed = false;
    for (Decoder& decoder : decoders_) {
        if (decoder.mp3.empty() || decoder.player->GetPlayerMode() != kFinished) continue;
        complete(decoder);
        completed = true;
    }
    return completed;
}

void Mp3Converter::finish() {
    for (;;) {
        // A decoder that has just finished takes the next file at once.
        if (poll()) continue;
        if (!running()) break;
        prompter().processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void Mp3Converter::startWaiting() {
    for (Decoder& decoder : decoders_) {
        if (waiting_.empty() || stopped()) return;
        if (!decoder.mp3.empty()) continue;
        const std::string mp3 = waiting_.front();
        waiting_.pop_front();
        start(decoder, mp3);
    }
}

void Mp3Converter::start(Decoder& decoder, const std::string& mp3) {
    progress_.status(fileStatus(slot(1), kConvertWordSlot, mp3));
    if (!decoder.player) decoder.player = makePlayer(exeDir_);
    TSoundPlayer& player = *decoder.player;
    try {
        player.LoadModule();
        // The plug-in opens plain paths: hand it the names as they exist on disk.
        player.setInputName(fsx::resolve(mp3));
        player.OpenInput();
        player.OpenOutput();
        decoder.wav = fsx::resolve(withWavExtension(mp3));
        player.setOutputName(decoder.wav);
        player.Play();
        decoder.mp3 = mp3;
    } catch (...) {
        player.UnloadModule();
        failure_ = std::current_exception();
    }
}

void Mp3Converter::complete(Decoder& decoder) {
    TSoundPlayer& player = *decoder.player;
    const int32_t moduleError = player.ModuleLastError();
    player.UnloadModule();
    progress_.barPosition(progress_.currentBarPosition() + fsx::fileSize(decoder.mp3));
    // The MP3 goes only once its WAV is really there: a failed decoding keeps the source
    // and stops the install with the plug-in's error.
    if (moduleError > 0 || fsx::fileSize(decoder.wav) <= 0) {
        if (!failure_) failure_ = std::make_exception_ptr(ESoundPlayer(moduleError == 5 ? 5 : 6));
    } else {
        fsx::deleteFile(decoder.mp3);
    }
    decoder.mp3.clear();
}

void ConvertMp3Files(const std::vector<std::string>& files, ProgressSink& progress,
                     const std::string& exeDir, unsigned decoders) {
    if (files.empty()) return;
    Mp3Converter converter(progress, exeDir, decoders);
    for (const std::string& f : files) converter.add(f);
    converter.finish();
}
