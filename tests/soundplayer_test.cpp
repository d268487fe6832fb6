// Sound player component, MP3 conversion, and the sound plug-in decoding real MP3 files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "app/AppState.h"
#include "install/Mp3Conversion.h"
#include "install/SoundPlayer.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

const std::string kFakeDir = std::string(TM_FAKE_PLUGIN_DIR) + "/recording/";
const std::string kNoEqDir = std::string(TM_FAKE_PLUGIN_DIR) + "/noeq/";
const std::string kRealDir = std::string(TM_PLUGIN_DIR) + "/";

int codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESoundPlayer& e) {
        return e.Code();
    }
    return -1;
}

// Sets the fake plug-in's environment for one test and reads its call log.
class FakePluginEnv {
  public:
    FakePluginEnv() {
        log_ = dir_.file("calls.log");
        setenv("TM_FAKE_PLUGIN_LOG", log_.c_str(), 1);
        for (const char* v : kVars) unsetenv(v);
    }
    ~FakePluginEnv() {
        unsetenv("TM_FAKE_PLUGIN_LOG");
        for (const char* v : kVars) unsetenv(v);
    }
    void set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        std::istringstream in(readFile(log_));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    // Calls whose name is one of `names`, in order.
    std::vector<std::string> callsOf(const std::vector<std::string>& names) const {
        std::vector<std::string> out;
        for (const std::string& c : calls())
            for (const std::string& n : names)
                if (c.compare(0, n.size() + 1, n + "|") == 0) out.push_back(c);
        return out;
    }
    void clear() const { writeFile(log_, ""); }

  private:
    static constexpr const char* kVars[] = {"TM_FAKE_PLUGIN_FAIL", "TM_FAKE_PLUGIN_ERROR",
                                            "TM_FAKE_PLUGIN_VOLUME", "TM_FAKE_PLUGIN_NOWAV",
                                            "TM_FAKE_PLUGIN_BUSY"};
    TempDir dir_;
    std::string log_;
};

// Records what the conversion shows: the statuses and the bar's position.
struct RecordedUi {
    RecordingProgress ui;
    std::vector<std::string>& statuses = ui.statuses;
    int64_t& position = ui.position;
};

uint32_t le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
    return v;
}
uint16_t le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                                 (static_cast<unsigned char>(s[at + 1]) << 8));
}

std::string sample(const std::string& name) {
    return readFile(std::string(TM_SOURCE_DIR) + "/tests/data/" + name);
}

}  // namespace

TEST(SoundPlayerError, EveryCodeHasItsText) {
    const char* texts[12] = {"No error",
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
    for (int code = 0; code < 12; ++code) {
        ESoundPlayer e(code);
        EXPECT_EQ(e.Code(), code);
        EXPECT_STREQ(e.what(), texts[code]);
    }
    EXPECT_EQ(ESoundPlayer(12).Code(), 12);  // codes beyond the table still carry their number
}

TEST(SoundPlayer, WithoutModuleSettersStoreAndOperationsNeedAModule) {
    TSoundPlayer p;
    EXPECT_EQ(p.BuffersCount(), 8);
    EXPECT_EQ(p.BufferSize(), 16384);
    EXPECT_EQ(p.OutputMode(), TSoundOutputMode::omMMSystem);
    p.setOutputName("x.wav");
    p.setPriority(3);
    EXPECT_EQ(p.OutputName(), "x.wav");
    EXPECT_EQ(p.Priority(), 3);
    EXPECT_EQ(p.ModuleName(), "(Module not initialized)");
    EXPECT_EQ(p.About(), "(Module not initialized)");
    EXPECT_EQ(p.Version(), -1);
    EXPECT_EQ(p.Extensions(), "");
    EXPECT_EQ(codeOf([&] { p.OpenInput(); }), 11);
    EXPECT_EQ(codeOf([&] { p.OpenOutput(); }), 11);
    EXPECT_EQ(codeOf([&] { p.Play(); }), 11);
    EXPECT_EQ(codeOf([&] { p.GetPlayerMode(); }), 11);
}

TEST(SoundPlayer, LoadFailures) {
    FakePluginEnv env;
    TempDir empty;
    TSoundPlayer p;
    p.setPathToDLL(empty.path() + "mp3dec.plg");
    EXPECT_EQ(codeOf([&] { p.LoadModule(); }), 10);
    p.setPathToDLL(kNoEqDir + "mp3dec.plg");  // lacks the last export
    EXPECT_EQ(codeOf([&] { p.LoadModule(); }), 10);
    EXPECT_FALSE(p.Initialized());
    env.set("TM_FAKE_PLUGIN_FAIL", "SMInitModule");
    p.setPathToDLL(kFakeDir + "mp3dec.plg");
    EXPECT_EQ(codeOf([&] { p.LoadModule(); }), 11);
    EXPECT_FALSE(p.Initialized());
    // Nothing of a failed load stays in memory.
    std::vector<std::string> calls = env.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "unload|");
}

TEST(SoundPlayer, LoadRegistersCallbacksOnlyAndQueriesText) {
    FakePluginEnv env;
    TSoundPlayer p;
    p.setPathToDLL(kFakeDir + "mp3dec.plg");
    p.setPriority(5);
    p.setInitialized(true);
    EXPECT_TRUE(p.Initialized());
    EXPECT_EQ(env.calls(),
              (std::vector<std::string>{"load|", "SMInitModule|", "SMSetOutCB|", "SMSetInCB|"}));
    env.clear();
    EXPECT_EQ(p.ModuleName(), "Fake decoder");
    EXPECT_EQ(env.calls(), (std::vector<std::string>{"SMGetName|size", "SMGetName|buffer 13"}));
    EXPECT_EQ(p.About(), "Fake decoder for tests");
    EXPECT_EQ(p.Extensions(), "*.fake");
    EXPECT_EQ(p.Version(), 42);
    env.set("TM_FAKE_PLUGIN_FAIL", "SMGetName");
    EXPECT_EQ(p.ModuleName(), "Unknown module");
    env.set("TM_FAKE_PLUGIN_FAIL", "SMGetAbout");
    EXPECT_EQ(p.About(), "Unknown module ... ");
    p.setInitialized(false);
    EXPECT_FALSE(p.Initialized());
    EXPECT_EQ(env.calls().back(), "unload|");
}

TEST(SoundPlayer, RefusedValuesAndOperations) {
    FakePluginEnv env;
    TSoundPlayer p;
    p.setPathToDLL(kFakeDir + "mp3dec.plg");
    p.LoadModule();
    env.set("TM_FAKE_PLUGIN_FAIL", "SMSetOutputName");
    env.set("TM_FAKE_PLUGIN_ERROR", "6");
    EXPECT_EQ(codeOf([&] { p.setOutputName("a.wav"); }), 6);
    EXPECT_EQ(p.OutputName(), "");  // not stored
    EXPECT_EQ(p.LastError(), 6);

    // A refused priority does not stop the input from opening.
    env.set("TM_FAKE_PLUGIN_FAIL", "SMSetPriority");
    EXPECT_EQ(codeOf([&] { p.OpenInput(); }), -1);
    EXPECT_EQ(env.callsOf({"SMOpen"}).size(), 1u);

    env.set("TM_FAKE_PLUGIN_FAIL", "SMOpen");
    env.set("TM_FAKE_PLUGIN_ERROR", "5");
    EXPECT_EQ(codeOf([&] { p.OpenInput(); }), 5);
    // A false answer without an error code passes quietly.
    env.set("TM_FAKE_PLUGIN_ERROR", "0");
    EXPECT_EQ(codeOf([&] { p.OpenInput(); }), -1);
    env.set("TM_FAKE_PLUGIN_FAIL", "SMInitStream");
    env.set("TM_FAKE_PLUGIN_ERROR", "8");
    EXPECT_EQ(codeOf([&] { p.OpenOutput(); }), 8);
}

TEST(SoundPlayer, PlayPassesLimitsAndKeepsTheVolumeHalvesInPlace) {
    FakePluginEnv env;
    env.set("TM_FAKE_PLUGIN_VOLUME", "0x12345678");
    TSoundPlayer p;
    p.setPathToDLL(kFakeDir + "mp3dec.plg");
    p.LoadModule();
    env.clear();
    p.Play();
    EXPECT_EQ(env.calls(),
              (std::vector<std::string>{"SMSetLimits|0,0", "SMSetLimits|0,0", "SMSetWindow|",
                                        "SMUseOutCB|0", "SMPlay|", "SMCanSetVolume|",
                                        "SMGetVolume|", "SMSetVolume|0x12345678"}));
    // Output callbacks are used only when all three events are assigned.
    p.OnOutput = [](const void*, uint32_t) { return true; };
    p.OnOutputInit = [](int32_t, int32_t, int32_t) { return true; };
    env.clear();
    p.Play();
    EXPECT_EQ(env.callsOf({"SMUseOutCB"}), (std::vector<std::string>{"SMUseOutCB|0"}));
    p.OnOutputDone = [] { return true; };
    env.clear();
    p.Play();
    EXPECT_EQ(env.callsOf({"SMUseOutCB"}), (std::vector<std::string>{"SMUseOutCB|1"}));
}

TEST(Mp3Conversion, OneDecoderLoadsTheModulePerFileAndCarriesTheLastOutputName) {
    FakePluginEnv env;
    TempDir dir;
    std::string a = dir.write("a.mp3", "12345");
    std::string b = dir.write("b.mp3", "1234567");
    app().exeDir = kFakeDir;
    app().languageSlots[1] = "Tallowmere";
    app().languageSlots[74] = "converts";
    RecordedUi rec;
    rec.position = 100;
    ScriptedPrompter prompter;
    env.set("TM_FAKE_PLUGIN_BUSY", "3");  // each file decodes for three mode queries
    ConvertMp3Files({a, b}, rec.ui, app().exeDir, 1);
    EXPECT_EQ(prompter.processEventsCalls, 6);  // window events run while waiting

    const std::string aw = dir.path() + "a.wav", bw = dir.path() + "b.wav";
    EXPECT_EQ(env.callsOf({"load", "unload", "SMInitModule", "SMDeInitModule"}),
              (std::vector<std::string>{"load|", "SMInitModule|", "SMDeInitModule|90", "unload|",
                                        "load|", "SMInitModule|", "SMDeInitModule|90", "unload|"}));
    EXPECT_EQ(env.callsOf({"SMSetOutputName", "SMSetInputName", "SMOpen", "SMPlay"}),
              (std::vector<std::string>{
                  "SMSetInputName|" + a, "SMSetInputName|" + a, "SMSetOutputName|", "SMOpen|",
                  "SMSetOutputName|" + aw, "SMPlay|", "SMSetInputName|" + b, "SMSetInputName|" + b,
                  "SMSetOutputName|" + aw, "SMOpen|", "SMSetOutputName|" + bw, "SMPlay|"}));
    // Stored values reach the module only through OpenInput and OpenOutput.
    EXPECT_EQ(env.callsOf({"SMSetInputMode", "SMSetOutputMode", "SMSetPriority", "SMSetDevNum",
                           "SMSetBuffers"}),
              (std::vector<std::string>{"SMSetInputMode|0", "SMSetOutputMode|1", "SMSetPriority|1",
                                        "SMSetDevNum|-1", "SMSetInputMode|0", "SMSetOutputMode|1",
                                        "SMSetPriority|1", "SMSetDevNum|-1"}));
    EXPECT_EQ(rec.statuses, (std::vector<std::string>{"Tallowmere converts " + a + "...",
                                                      "Tallowmere converts " + b + "..."}));
    EXPECT_EQ(rec.position, 112);
    EXPECT_FALSE(fsx::fileExists(a));
    EXPECT_FALSE(fsx::fileExists(b));
    EXPECT_TRUE(fsx::fileExists(aw));
}

TEST(Mp3Conversion, FailuresKeepTheMp3AndStopTheList) {
    FakePluginEnv env;
    TempDir dir;
    std::string a = dir.write("a.mp3", "12345");
    std::string b = dir.write("b.mp3", "1234567");
    RecordedUi rec;

    // No plug-in beside the program.
    TempDir noPlugin;
    app().exeDir = noPlugin.path();
    EXPECT_EQ(codeOf([&] { ConvertMp3Files({a, b}, rec.ui, app().exeDir, 1); }), 10);
    EXPECT_TRUE(fsx::fileExists(a));
    EXPECT_EQ(rec.statuses.size(), 1u);

    // A module that reports success without writing the WAV file.
    app().exeDir = kFakeDir;
    env.set("TM_FAKE_PLUGIN_NOWAV", "1");
    EXPECT_EQ(codeOf([&] { ConvertMp3Files({a, b}, rec.ui, app().exeDir, 1); }), 6);
    EXPECT_TRUE(fsx::fileExists(a));
    EXPECT_TRUE(fsx::fileExists(b));
    EXPECT_EQ(env.calls().back(), "unload|");

    // An input the module cannot open.
    unsetenv("TM_FAKE_PLUGIN_NOWAV");
    env.set("TM_FAKE_PLUGIN_FAIL", "SMOpen");
    env.set("TM_FAKE_PLUGIN_ERROR", "5");
    EXPECT_EQ(codeOf([&] { ConvertMp3Files({a}, rec.ui, app().exeDir, 1); }), 5);
    EXPECT_TRUE(fsx::fileExists(a));
    EXPECT_EQ(env.calls().back(), "unload|");

    // Nothing is loaded for an empty list.
    env.clear();
    ConvertMp3Files({}, rec.ui, app().exeDir);
    EXPECT_TRUE(env.calls().empty());
}

TEST(Mp3Decoder, DecodesToPcmWavWithTheStreamsRateAndChannels) {
    TempDir dir;
    std::string mono = dir.path() + "Mono.mp3", stereo = dir.path() + "stereo.mp3";
    writeFile(mono, sample("tone_mono22k.mp3"));
    writeFile(stereo, sample("tone_stereo44k.mp3"));
    app().exeDir = kRealDir;
    RecordedUi rec;
    ScriptedPrompter prompter;
    ConvertMp3Files({mono, stereo}, rec.ui, app().exeDir);

    struct Expect {
        std::string wav;
        uint32_t rate;
        uint16_t channels;
    };
    for (const Expect& e :
         {Expect{dir.path() + "Mono.wav", 22050, 1}, Expect{dir.path() + "stereo.wav", 44100, 2}}) {
        SCOPED_TRACE(e.wav);
        std::string w = readFile(e.wav);
        ASSERT_GT(w.size(), 44u);
        EXPECT_EQ(w.substr(0, 4), "RIFF");
        EXPECT_EQ(le32(w, 4), w.size() - 8);
        EXPECT_EQ(w.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(le16(w, 20), 1);  // PCM
        EXPECT_EQ(le16(w, 22), e.channels);
        EXPECT_EQ(le32(w, 24), e.rate);
        EXPECT_EQ(le32(w, 28), e.rate * e.channels * 2);
        EXPECT_EQ(le16(w, 34), 16);
        EXPECT_EQ(w.substr(36, 4), "data");
        EXPECT_EQ(le32(w, 40), w.size() - 44);
        double seconds = double(w.size() - 44) / (e.rate * e.channels * 2);
        EXPECT_GT(seconds, 0.45);
        EXPECT_LT(seconds, 0.6);
        // Not silence: the tone has a real amplitude.
        int peak = 0;
        for (size_t i = 44; i + 1 < w.size(); i += 2)
            peak = std::max(peak, std::abs(int16_t(le16(w, i))));
        EXPECT_GT(peak, 3000);
    }
    EXPECT_FALSE(fsx::fileExists(mono));
    EXPECT_FALSE(fsx::fileExists(stereo));
    EXPECT_TRUE(fsx::listDirectory(dir.path(), "*.tm*").empty());
    EXPECT_GT(rec.position, 6000);
}

TEST(Mp3Decoder, DamagedInputLeavesNoWavAndKeepsTheMp3) {
    TempDir dir;
    std::string bad = dir.write("bad.mp3", std::string(3000, 'x'));
    std::string cut = dir.path() + "cut.mp3";
    writeFile(cut, sample("tone_stereo44k.mp3").substr(0, 3));
    app().exeDir = kRealDir;
    RecordedUi rec;
    EXPECT_EQ(codeOf([&] { ConvertMp3Files({bad}, rec.ui, app().exeDir); }), 5);
    EXPECT_EQ(codeOf([&] { ConvertMp3Files({cut}, rec.ui, app().exeDir); }), 5);
    EXPECT_TRUE(fsx::fileExists(bad));
    EXPECT_TRUE(fsx::fileExists(cut));
    EXPECT_FALSE(fsx::pathExists(dir.path() + "bad.wav"));
    EXPECT_TRUE(fsx::listDirectory(dir.path(), "*.tm*").empty());
}

TEST(Mp3Decoder, AnswersItsQueriesAndRefusesDeviceOutput) {
    TSoundPlayer p;
    p.setPathToDLL(kRealDir + "mp3dec.plg");
    p.LoadModule();
    EXPECT_EQ(p.ModuleName(), "MP3 decoder");
    EXPECT_EQ(p.Extensions(), "*.mp3;*.mp2;*.mp1");
    EXPECT_GT(p.Version(), 0);
    // Sound-card output is not part of this decoder.
    TempDir dir;
    std::string mp3 = dir.path() + "t.mp3";
    writeFile(mp3, sample("tone_mono22k.mp3"));
    p.setInputName(mp3);
    EXPECT_EQ(codeOf([&] { p.OpenInput(); }), 1);
    // Play before a successful open is the wrong mode.
    p.setOutputMode(TSoundOutputMode::omFile);
    p.setOutputName(dir.path() + "t.wav");
    EXPECT_EQ(codeOf([&] { p.Play(); }), 2);
}

TEST(Mp3Decoder, UnloadingDuringDecodingLeavesNoPartialFile) {
    TempDir dir;
    std::string mp3 = dir.path() + "t.mp3", wav = dir.path() + "t.wav";
    writeFile(mp3, sample("tone_stereo44k.mp3"));
    TSoundPlayer p;
    p.setPathToDLL(kRealDir + "mp3dec.plg");
    p.setInputMode(TSoundInputMode::imFile);
    p.setOutputMode(TSoundOutputMode::omFile);
    p.LoadModule();
    p.setInputName(mp3);
    p.OpenInput();
    p.OpenOutput();
    p.setOutputName(wav);
    p.Play();
    p.UnloadModule();  // stops the decoding thread wherever it is
    EXPECT_TRUE(fsx::listDirectory(dir.path(), "*.tm*").empty());
    // Either no WAV at all or a complete one.
    if (fsx::fileExists(wav)) {
        std::string w = readFile(wav);
        ASSERT_GT(w.size(), 44u);
        EXPECT_EQ(le32(w, 40), w.size() - 44);
    }
    EXPECT_TRUE(fsx::fileExists(mp3));
}

TEST(Mp3Converter, SeveralDecodersEndAsOneDoes) {
    app().exeDir = kRealDir;
    ScriptedPrompter prompter;
    const std::string samples[2] = {sample("tone_mono22k.mp3"), sample("tone_stereo44k.mp3")};
    // The WAV files one decoder makes, one file after another.
    std::string expected[2];
    {
        TempDir dir;
        RecordedUi rec;
        ConvertMp3Files({dir.write("m.mp3", samples[0]), dir.write("s.mp3", samples[1])}, rec.ui,
                        app().exeDir, 1);
        expected[0] = readFile(dir.path() + "m.wav");
        expected[1] = readFile(dir.path() + "s.wav");
    }
    struct Row {
        unsigned decoders;
        bool handOver;    // files handed over one at a time, polled in between
        int damaged;      // index of an undecodable file, -1 for none
        size_t cancelAt;  // cancel once this many files have started, 0 for never
    };
    const int kFiles = 7;
    for (const Row& row : {Row{2, false, -1, 0}, Row{4, true, -1, 0}, Row{3, false, 4, 0},
                           Row{2, true, -1, 3}, Row{0, false, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << row.decoders << " decoders, damaged " << row.damaged
                                        << ", cancel at " << row.cancelAt);
        TempDir dir;
        RecordedUi rec;
        int64_t sizes = 0;
        std::vector<std::string> files;
        for (int i = 0; i < kFiles; ++i) {
            const std::string data = i == row.damaged ? std::string(3000, 'x') : samples[i % 2];
            files.push_back(dir.write("T" + std::to_string(i) + ".mp3", data));
        }
        Mp3Converter converter(rec.ui, app().exeDir, row.decoders);
        if (row.cancelAt) converter.cancelled = [&] { return rec.statuses.size() >= row.cancelAt; };
        for (const std::string& f : files) {
            converter.add(f);
            if (row.handOver) converter.poll();
        }
        EXPECT_EQ(codeOf([&] { converter.finish(); }), row.damaged >= 0 ? 5 : -1);

        // Files before a failure or cancel end converted; the others stay as they were.
        const int done = row.damaged >= 0 ? row.damaged
                         : row.cancelAt   ? static_cast<int>(row.cancelAt)
                                          : kFiles;
        for (int i = 0; i < kFiles; ++i) {
            const std::string wav = dir.path() + "T" + std::to_string(i) + ".wav";
            EXPECT_EQ(fsx::fileExists(files[i]), i >= done) << i;
            EXPECT_EQ(fsx::fileExists(wav) ? readFile(wav) : "", i < done ? expected[i % 2] : "")
                << i;
            EXPECT_TRUE(fsx::listDirectory(dir.path(), "*.tm*").empty());
            if (i < done) sizes += static_cast<int64_t>(samples[i % 2].size());
        }
        EXPECT_EQ(rec.position, sizes);
        // Each file shows its status as it starts; a damaged file fails as it opens.
        EXPECT_EQ(rec.statuses.size(), static_cast<size_t>(row.damaged >= 0 ? done + 1 : done));
    }
}
