#pragma once
// Decoding installed MP3 sound files to WAV through the sound plug-in "mp3dec.plg".

#include <string>
#include <vector>

#include "install/InstallUi.h"

// Decodes each file of `files` (full paths of .mp3 files) into a .wav file beside it and
// deletes the .mp3. Throws ESoundPlayer when the plug-in fails (the remaining files stay).
void ConvertMp3Files(const std::vector<std::string>& files, const InstallUi& ui);
