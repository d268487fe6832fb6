#pragma once
// Decoding installed MP3 sound files to WAV through the sound plug-in "mp3dec.plg".
//
// Several files decode at once, one sound player (with its own plug-in module) per core.
// Everything here runs on the calling thread, the window's: it starts the decoders, polls
// them, moves the progress bar and lets window events run; the decoding itself runs on the
// plug-in's threads. Files can be handed over one at a time as they become available.

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ProgressSink;

class TSoundPlayer;

class Mp3Converter {
  public:
    // `exeDir`: the program's folder, whose sound plug-in decodes; `decoders` 0 means one
    // per core.
    Mp3Converter(ProgressSink& progress, const std::string& exeDir, unsigned decoders = 0);
    ~Mp3Converter();
    Mp3Converter(const Mp3Converter&) = delete;
    Mp3Converter& operator=(const Mp3Converter&) = delete;

    // Asked between polls; once it answers true no further file starts (the running ones
    // finish, the others stay .mp3 files).
    std::function<bool()> cancelled;

    // Hands over one .mp3 file (full path). Its decoding starts at the next poll that finds
    // a decoder free.
    void add(const std::string& mp3);
    // Starts waiting files on free decoders and completes the decoders that have finished;
    // never waits. True when a file was completed.
    bool poll();
    // Waits until every file handed over is done, letting window events run. A failure
    // (ESoundPlayer) is thrown once the decoders still running have ended; files not yet
    // started then stay .mp3 files.
    void finish();

    unsigned decoderCount() const { return static_cast<unsigned>(decoders_.size()); }

  private:
    struct Decoder {
        std::unique_ptr<TSoundPlayer> player;
        std::string mp3;  // the file being decoded; empty while free
        std::string wav;
    };

    bool stopped() const;
    bool running() const;
    void start(Decoder& decoder, const std::string& mp3);
    void complete(Decoder& decoder);
    void startWaiting();

    ProgressSink& progress_;
    std::string exeDir_;
    std::vector<Decoder> decoders_;
    std::deque<std::string> waiting_;
    std::exception_ptr failure_;
};

// Decodes each file of `files` (full paths of .mp3 files) into a .wav file beside it and
// deletes the .mp3, on `decoders` decoders at once (0: one per core), with the sound plug-in
// of the program in `exeDir`. Throws ESoundPlayer when the plug-in fails (the files not yet
// converted stay).
void ConvertMp3Files(const std::vector<std::string>& files, ProgressSink& progress,
                     const std::string& exeDir, unsigned decoders = 0);
