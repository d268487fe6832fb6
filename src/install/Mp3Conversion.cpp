#include "install/Mp3Conversion.h"

#include <chrono>
#include <thread>

#include "app/AppState.h"
#include "install/SoundPlayer.h"
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

namespace {

// Plug-in mode of a finished decoding.
constexpr uint8_t kFinished = 3;

std::string withWavExtension(const std::string& path) {
    std::string ext = text::extractFileExt(path);
    return path.substr(0, path.size() - ext.size()) + ".wav";
}

}  // namespace

void ConvertMp3Files(const std::vector<std::string>& files, const InstallUi& ui) {
    if (files.empty()) return;
    TSoundPlayer player;
    player.setPathToDLL(apppaths::libraryDir(app().exeDir) + apppaths::kPluginName);
    player.setInputMode(TSoundInputMode::imFile);
    player.setOutputMode(TSoundOutputMode::omFile);
    player.setOutputDevNum(-1);
    player.setBuffersCount(8);
    player.setBufferSize(8196);
    player.setPriority(1);

    for (const std::string& f : files) {
        ui.status(slot(1) + " " + slot(74) + " " + f + "...");
        player.LoadModule();
        // The plug-in opens plain paths: hand it the names as they exist on disk.
        const std::string input = fsx::resolve(f);
        const std::string wav = fsx::resolve(withWavExtension(f));
        player.setInputName(input);
        player.OpenInput();
        player.OpenOutput();
        player.setOutputName(wav);
        player.Play();
        // The plug-in decodes on a thread of its own; window events run meanwhile. The
        // short sleep keeps the wait from spinning a core at full load.
        while (player.GetPlayerMode() != kFinished) {
            prompter().processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const int32_t moduleError = player.ModuleLastError();
        player.UnloadModule();
        ui.position(ui.currentPosition() + fsx::fileSize(f));
        // The MP3 goes only once its WAV is really there: a failed decoding keeps the
        // source and stops the install with the plug-in's error.
        if (moduleError > 0 || fsx::fileSize(wav) <= 0)
            throw ESoundPlayer(moduleError == 5 ? 5 : 6);
        fsx::deleteFile(f);
    }
}
