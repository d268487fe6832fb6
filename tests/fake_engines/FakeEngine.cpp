// A stand-in for both engine libraries. It reads the parameter record in the layout of its
// own version, writes the fields to the file named by TM_FAKE_DUMP ("key=value" lines),
// sends the callbacks listed in TM_FAKE_CALLBACKS ("code,arg1,arg2,text" separated by
// "|"; the answers are written to the dump), fills a memory block with TM_FAKE_FILL and
// returns TM_FAKE_RESULT (default: the number of specs).

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/EngineAbi.h"

#ifndef FAKE_VERSION
#error FAKE_VERSION must be defined
#endif

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class Dump {
  public:
    Dump() {
        std::string path = env("TM_FAKE_DUMP");
        if (!path.empty()) f_ = std::fopen(path.c_str(), "a");
    }
    ~Dump() {
        if (f_) std::fclose(f_);
    }
    void put(const std::string& key, const std::string& value) {
        if (f_) std::fprintf(f_, "%s=%s\n", key.c_str(), value.c_str());
    }
    void put(const std::string& key, long long value) { put(key, std::to_string(value)); }
    void str(const std::string& key, const char* s) { put(key, s ? s : "(null)"); }
    void ptr(const std::string& key, const void* p) { put(key, p ? "set" : "null"); }

  private:
    std::FILE* f_ = nullptr;
};

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t i = s.find(sep, start);
        out.push_back(s.substr(start, i == std::string::npos ? std::string::npos : i - start));
        if (i == std::string::npos) break;
        start = i + 1;
    }
    return out;
}

// Sends the scripted callbacks; false when the component asked to stop.
[[maybe_unused]] bool runCallbacks(Dump& d, engine::EngineCallback cb, void* caller) {
    std::string script = env("TM_FAKE_CALLBACKS");
    if (script.empty() || !cb) return true;
    int n = 0;
    for (const std::string& item : split(script, '|')) {
        std::vector<std::string> f = split(item, ',');
        if (f.size() < 3) continue;
        engine::EngineCallbackRecord r;
        std::memset(&r, 0, sizeof r);
        r.caller = caller;
        r.version = FAKE_VERSION;
        r.actionCode = std::atoi(f[0].c_str());
        r.arg1 = static_cast<int32_t>(std::strtoll(f[1].c_str(), nullptr, 0));
        long long a2 = std::strtoll(f[2].c_str(), nullptr, 0);
        r.arg2 = static_cast<int32_t>(a2);
        if (a2 > 0xFFFFFFFFLL || a2 < -0x80000000LL) r.arg2Wide = a2;
        std::string text;
        for (size_t i = 3; i < f.size(); ++i) text += (i > 3 ? "," : "") + f[i];
        std::strncpy(r.text, text.c_str(), sizeof r.text - 1);
        int32_t ret = cb(&r);
        d.put("cb" + std::to_string(n++), std::to_string(ret) + "," + std::to_string(r.arg1) + "," +
                                              std::to_string(r.arg2) + "," + r.text);
        if (ret == -1) {
            d.put("stopped", 1);
            return false;
        }
    }
    return true;
}

[[maybe_unused]] int32_t result(int32_t argc) {
    std::string r = env("TM_FAKE_RESULT");
    return r.empty() ? argc : std::atoi(r.c_str());
}

template <typename P>
[[maybe_unused]] void dumpZipCommon(Dump& d, const P& p) {
    d.put("engine", "zip");
    d.put("engineVersion", FAKE_VERSION);
    d.ptr("handle", p.handle);
    d.ptr("caller", p.caller);
    d.put("version", p.version);
    d.ptr("callback", reinterpret_cast<const void*>(p.callback));
    d.put("trace", p.trace);
    d.str("password", p.password);
    d.str("suffixes", p.suffixes);
    d.put("encrypt", p.encrypt);
    d.put("hidden", p.hiddenFiles);
    d.put("volume", p.volume);
    d.put("noDirEntries", p.noDirEntries);
    d.put("verbose", p.verbose);
    d.put("quiet", p.quiet);
    d.put("level", p.level);
    d.put("junkDirs", p.junkDirs);
    d.put("recurse", p.recurse);
    d.put("r80", p.reserved80);
    d.put("forceDos", p.forceDos);
    d.put("move", p.move);
    d.put("update", p.update);
    d.put("freshen", p.freshen);
    d.put("latestTime", p.latestTime);
    d.put("zeroFields", p.reserved40 | p.reserved48 | p.reserved64 | p.reserved68 | p.reserved92 |
                            p.reserved104 | p.reserved112 | p.reserved116);
    d.put("argc", p.argc);
    d.str("archive", p.archive);
}

template <typename P>
[[maybe_unused]] void dumpUnzipCommon(Dump& d, const P& p) {
    d.put("engine", "unzip");
    d.put("engineVersion", FAKE_VERSION);
    d.ptr("handle", p.handle);
    d.ptr("caller", p.caller);
    d.put("version", p.version);
    d.ptr("callback", reinterpret_cast<const void*>(p.callback));
    d.put("trace", p.trace);
    d.str("password", p.password);
    d.put("test", p.test);
    d.put("r40", p.reserved40);
    d.put("verbose", p.verbose);
    d.put("update", p.update);
    d.put("freshen", p.freshen);
    d.put("directories", p.directories);
    d.put("overwrite", p.overwrite);
    d.put("zeroFields", p.reserved20 | p.reserved32 | p.reserved36);
    d.put("argc", p.argc);
    d.str("archive", p.archive);
    char cwd[4096];
    d.put("cwd", getcwd(cwd, sizeof cwd) ? cwd : "?");
}

}  // namespace

#ifndef FAKE_NO_EXEC
TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL ZipEngineExec(engine::ZipParams* params) {
    Dump d;
#if FAKE_VERSION < 151
    const auto& p = *reinterpret_cast<const engine::ZipParamsLegacy*>(params);
    dumpZipCommon(d, p);
    d.put("seven", p.seven);
    for (int i = 0; i < p.argc && i < engine::kLegacySpecSlots; ++i)
        d.str("spec" + std::to_string(i), p.specs[i]);
    d.put("nextSlotNull", p.argc < engine::kLegacySpecSlots ? p.specs[p.argc] == nullptr : 1);
    d.put("tail", p.reserved16516);
#else
    const auto& p = *params;
    dumpZipCommon(d, p);
    d.str("tempDir", p.tempDir);
#if FAKE_VERSION >= 160
    d.str("comment", p.comment);
    d.put("archiveOnly", p.archiveOnly);
    d.put("resetArchive", p.resetArchive);
    d.put("excludeCount", p.excludeCount);
    for (int i = 0; i < p.excludeCount; ++i)
        d.str("exclude" + std::to_string(i), p.excludeSpecs[i]);
#else
    d.put("newerFieldsSet", p.comment != nullptr || p.archiveOnly || p.resetArchive ||
                                p.excludeCount || p.excludeSpecs != nullptr);
#endif
    for (int i = 0; i < p.argc; ++i) {
        const engine::ZipFileSpec& s = p.fileSpecs[i];
        std::string k = "spec" + std::to_string(i);
        d.str(k + ".pattern", s.pattern);
        d.str(k + ".password", s.password);
        d.put(k + ".encrypt", s.encrypt);
        d.put(k + ".recurse", s.recurse);
        d.str(k + ".rootDir", s.rootDir);
    }
    d.put("seven", p.seven);
#endif
    if (!runCallbacks(d, p.callback, p.caller)) return 0;
    return result(p.argc);
}
#endif

#ifndef FAKE_NO_EXEC
TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL UnzipEngineExec(engine::UnzipParams* params) {
    Dump d;
#if FAKE_VERSION < 152
    const auto& p = *reinterpret_cast<const engine::UnzipParamsLegacy*>(params);
    dumpUnzipCommon(d, p);
    d.put("seven", p.seven);
    for (int i = 0; i < p.argc && i < engine::kLegacySpecSlots; ++i)
        d.str("spec" + std::to_string(i), p.specs[i]);
    d.put("nextSlotNull", p.argc < engine::kLegacySpecSlots ? p.specs[p.argc] == nullptr : 1);
    d.put("tail", p.reserved16460);
#else
    auto& p = *params;
    dumpUnzipCommon(d, p);
    for (int i = 0; i < p.argc; ++i) d.str("spec" + std::to_string(i), p.fileSpecs[i].pattern);
    d.put("toMemory", p.toMemory);
    d.ptr("memory", p.memory);
    d.put("memorySize", p.memorySize);
#if FAKE_VERSION >= 160
    d.put("passwordReqCount", p.passwordReqCount);
#endif
    d.put("seven", p.seven);
    std::string fill = env("TM_FAKE_FILL");
    if (p.toMemory && p.memory && !fill.empty()) {
        auto* out = static_cast<char*>(p.memory);
        for (uint32_t i = 0; i < p.memorySize; ++i) out[i] = fill[i % fill.size()];
    }
#endif
    if (!runCallbacks(d, p.callback, p.caller)) return 0;
    return result(p.argc);
}
#endif

#ifndef FAKE_NO_VERSION
TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL GetZipEngineVersion() {
    return FAKE_VERSION;
}
TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL GetUnzipEngineVersion() {
    return FAKE_VERSION;
}
#endif
