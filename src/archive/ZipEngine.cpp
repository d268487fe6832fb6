// Engine libraries (process-wide slots, loading and unloading) and the Add request that
// drives the compression engine ZIPENG.DLL.

#include <algorithm>
#include <cctype>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/EngineRecordSupport.h"
#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

struct EngineSlot {
    void* library = nullptr;
    void* exec = nullptr;
    engine::EngineVersionFn version = nullptr;
};

struct EngineNames {
    const char* file;
    const char* exec;
    const char* version;
    int messageBase;  // +1 loaded, +2 exec missing, +3 version missing, +4 not found
};

// One slot per engine, shared by every component instance of the process.
EngineSlot g_slots[2];
constexpr EngineNames kEngineNames[2] = {
    {"ZIPENG.DLL", "ZipEngineExec", "GetZipEngineVersion", 10600},
    {"UNZENG.DLL", "UnzipEngineExec", "GetUnzipEngineVersion", 10700},
};

void* openLibrary(const std::string& path) {
#ifdef _WIN32
    // No system error boxes while loading.
    UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE h = LoadLibraryA(path.c_str());
    SetErrorMode(old);
    if (reinterpret_cast<uintptr_t>(h) < 33) return nullptr;
    return reinterpret_cast<void*>(h);
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void closeLibrary(void* lib) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(lib));
#else
    dlclose(lib);
#endif
}

void* librarySymbol(void* lib, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
#else
    return dlsym(lib, name);
#endif
}

// The engine library: DLLDirectory first, then the program's own directory, then the
// system's library search with the bare name.
void* findAndOpenEngine(const std::string& dllDirectory, const char* file) {
    if (!dllDirectory.empty()) {
        std::string path = dllDirectory + fsx::kPathDelim + file;
        if (fsx::fileExists(path)) return openLibrary(fsx::resolve(path));
    }
#ifndef _WIN32
    // The system search does not look beside the executable here; Windows does that first.
    std::string own = fsx::exeDirectory();
    if (!own.empty()) {
        std::string path = own + file;
        if (fsx::fileExists(path)) {
            if (void* lib = openLibrary(fsx::resolve(path))) return lib;
        }
    }
#endif
    return openLibrary(file);
}

using engine_records::StringPool;

bool upperExtensionIsExe(const std::string& name) {
    size_t sep = name.find_last_of("\\/");
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return false;
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext == ".EXE";
}

std::string storeSuffixList(AddStoreExts set) {
    static const char* const kSuffixes[] = {"gif", "png", "z",   "zip", "zoo", "arc",
                                            "lzh", "arj", "taz", "tgz", "lha", "exe"};
    std::string list;
    for (int i = 0; i < 12; ++i) {
        if (set.has(static_cast<AddStoreSuffixEnum>(i))) {
            list += '.';
            list += kSuffixes[i];
            list += ':';
        }
    }
    if (!list.empty()) list.pop_back();
    return list;
}

// One entry of FSpecArgs taken apart: ">" or "|" first, the pattern, "<" and a password.
struct AddSpec {
    std::string pattern;
    int recurse = -1;  // -1 as the request says, else 0 or 0xFFFF
    bool hasPasswordMark = false;
    std::string password;
};

AddSpec parseAddSpec(const std::string& spec) {
    AddSpec out;
    std::string rest = spec;
    if (!rest.empty() && rest[0] == '>') {
        out.recurse = 0xFFFF;
        rest.erase(0, 1);
    } else if (!rest.empty() && rest[0] == '|') {
        out.recurse = 0;
        rest.erase(0, 1);
    }
    size_t lt = rest.find('<');
    if (lt != std::string::npos) {
        out.hasPasswordMark = true;
        out.password = rest.substr(lt + 1);
        rest.erase(lt);
    }
    out.pattern = rest;
    return out;
}

using engine_records::flag;
using engine_records::kMaxRecordPassword;
using engine_records::kTrue;

// Fields shared by the record layouts of every engine version.
template <typename P>
void fillZipCommon(P& p, TZipArchiver& z, StringPool& pool, const std::string& archive) {
    const AddOpts& o = z.AddOptions;
    p.handle = z.Unattended ? nullptr : reinterpret_cast<void*>(1);
    p.caller = &z;
    p.version = engine::kInterfaceVersion;
    p.callback = &TZipArchiver::EngineCallbackEntry;
    p.trace = flag(z.Trace);
    p.password = z.Password.empty() ? nullptr : pool.keep(z.Password.substr(0, kMaxRecordPassword));
    p.suffixes =
        z.AddStoreSuffixes.empty() ? nullptr : pool.keep(storeSuffixList(z.AddStoreSuffixes));
    p.encrypt = flag(o.has(AddOptsEnum::AddEncrypt));
    p.hiddenFiles = flag(o.has(AddOptsEnum::AddHiddenFiles));
    p.volume = flag(o.has(AddOptsEnum::AddVolume));
    p.noDirEntries = flag(!o.has(AddOptsEnum::AddSeparateDirs));
    p.verbose = flag(z.Verbose || z.Trace);
    p.quiet = kTrue;
    p.level = z.AddCompLevel;
    p.junkDirs = flag(!o.has(AddOptsEnum::AddDirNames));
    p.recurse = o.has(AddOptsEnum::AddRecurseDirs) ? 0xFFFF : 0;
    p.reserved80 = kTrue;
    p.forceDos = flag(o.has(AddOptsEnum::AddForceDOS));
    p.move = flag(o.has(AddOptsEnum::AddMove));
    const bool update = o.has(AddOptsEnum::AddUpdate);
    p.update = flag(update);
    p.freshen = flag(o.has(AddOptsEnum::AddFreshen) && !update);
    p.latestTime = flag(o.has(AddOptsEnum::AddZipTime));
    p.archive = pool.keep(archive);
}

}  // namespace

// --- Engine slots ----------------------------------------------------------------------

bool TZipArchiver::EngineLoaded(int id) {
    return g_slots[id].library != nullptr;
}

void* TZipArchiver::EngineExecAddress(int id) {
    return g_slots[id].exec;
}

int TZipArchiver::EngineVersionOf(int id) {
    return g_slots[id].version ? g_slots[id].version() : 0;
}

bool TZipArchiver::LoadEngine(int id) {
    EngineSlot& slot = g_slots[id];
    if (slot.library) return true;
    const EngineNames& names = kEngineNames[id];

    void* lib = findAndOpenEngine(dllDirectory_, names.file);
    if (!lib) {
        ReportMessage(names.messageBase + 4);
        return false;
    }
    if (Trace) ReportMessage(names.messageBase + 1);

    void* exec = librarySymbol(lib, names.exec);
    void* version = librarySymbol(lib, names.version);
    if (!exec || !version) {
        ReportMessage(names.messageBase + (exec ? 3 : 2));
        closeLibrary(lib);
        return false;
    }
    slot.library = lib;
    slot.exec = exec;
    slot.version = reinterpret_cast<engine::EngineVersionFn>(version);
    return true;
}

void TZipArchiver::UnloadEngine(int id) {
    EngineSlot& slot = g_slots[id];
    if (slot.library) closeLibrary(slot.library);
    slot = EngineSlot{};
}

namespace {
int g_engineCalls = 0;  // engine calls running, nested ones counted
}  // namespace

bool TZipArchiver::EngineBusy() {
    return g_engineCalls > 0;
}

int32_t TZipArchiver::CallEngine(int id, void* params, int failureId) {
    struct Running {
        Running() { ++g_engineCalls; }
        ~Running() { --g_engineCalls; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running;
    const bool outerFailed = callbackFailed_;
    callbackFailed_ = false;
    int32_t result;
    if (id == kZipEngineId) {
        auto exec = reinterpret_cast<engine::ZipEngineExecFn>(EngineExecAddress(id));
        result = exec(static_cast<engine::ZipParams*>(params));
    } else {
        auto exec = reinterpret_cast<engine::UnzipEngineExecFn>(EngineExecAddress(id));
        result = exec(static_cast<engine::UnzipParams*>(params));
    }
    const bool failed = callbackFailed_;
    callbackFailed_ = outerFailed;
    if (failed) throw EZipArchiver(failureId, true);
    return result;
}

int TZipArchiver::GetZipEngineVersion() {
    if (EngineLoaded(kZipEngineId)) return EngineVersionOf(kZipEngineId);
    if (!LoadEngine(kZipEngineId)) return 0;
    int version = EngineVersionOf(kZipEngineId);
    UnloadEngine(kZipEngineId);
    return version;
}

// --- Add -------------------------------------------------------------------------------

namespace {

// Why an Add request cannot be made: the message id, or 0.
int addRefusal(const TZipArchiver& zip, bool spanning) {
    if (zip.FSpecArgs.empty()) return 10301;
    if (zip.ZipFileName().empty()) return 10102;
    if (zip.Unattended && zip.AddOptions.has(AddOptsEnum::AddEncrypt) && zip.Password.empty())
        return 10302;
    if (!spanning) return 0;
    if (zip.AddOptions.has(AddOptsEnum::AddFreshen) || zip.AddOptions.has(AddOptsEnum::AddUpdate))
        return 10303;
    if (upperExtensionIsExe(zip.ZipFileName())) return 11041;
    return 0;
}

}  // namespace

// Hands the request to the loaded engine in the record its version takes; the count of
// files it added.
int32_t TZipArchiver::CallZipEngine(int version, const std::string& archive) {
    StringPool pool;
    const int argc = static_cast<int>(FSpecArgs.size());
    const char* recordPassword =
        Password.empty() ? nullptr : pool.keep(Password.substr(0, kMaxRecordPassword));

    if (version < 151) {
        // Older engines take the patterns inline, at most 4096 of them.
        if (argc > engine::kLegacySpecSlots) throw EZipArchiver(10101, true);
        auto p = std::make_unique<engine::ZipParamsLegacy>();
        fillZipCommon(*p, *this, pool, archive);
        p->argc = argc;
        p->seven = engine::kEndMarker;
        for (int i = 0; i < argc; ++i)
            p->specs[i] = pool.keep(parseAddSpec(FSpecArgs[size_t(i)]).pattern);
        return CallEngine(kZipEngineId, reinterpret_cast<engine::ZipParams*>(p.get()), 10101);
    }
    {
        auto p = std::make_unique<engine::ZipParams>();
        fillZipCommon(*p, *this, pool, archive);
        std::vector<engine::ZipFileSpec> specs(static_cast<size_t>(argc));
        const char* rootDir = RootDir.empty() ? nullptr : pool.keep(fsx::resolve(RootDir));
        for (int i = 0; i < argc; ++i) {
            AddSpec s = parseAddSpec(FSpecArgs[size_t(i)]);
            engine::ZipFileSpec& fs = specs[size_t(i)];
            fs.pattern = pool.keep(s.pattern);
            fs.encrypt = p->encrypt;
            if (s.hasPasswordMark && !s.password.empty()) {
                fs.password = pool.keep(s.password);
                fs.encrypt = 0xFFFF;
            } else {
                fs.password = recordPassword;
                if (s.hasPasswordMark) fs.encrypt = 0;
            }
            fs.recurse = static_cast<uint16_t>(s.recurse >= 0 ? s.recurse : (p->recurse & 0xFFFF));
            fs.rootDir = rootDir;
        }
        std::vector<const char*> excludes;
        p->argc = argc;
        p->tempDir = TempDir.empty() ? nullptr : pool.keep(fsx::resolve(TempDir));
        p->fileSpecs = specs.empty() ? nullptr : specs.data();
        if (version >= 160) {
            p->comment = ArchiveComment().empty() ? nullptr : pool.keep(ArchiveComment());
            p->archiveOnly = AddOptions.has(AddOptsEnum::AddArchiveOnly) ? 1 : 0;
            p->resetArchive = AddOptions.has(AddOptsEnum::AddResetArchive) ? 1 : 0;
            for (const std::string& e : FSpecArgsExcl) excludes.push_back(pool.keep(e));
            p->excludeCount = static_cast<int32_t>(excludes.size());
            p->excludeSpecs = excludes.empty() ? nullptr : excludes.data();
        }
        p->seven = engine::kEndMarker;
        return CallEngine(kZipEngineId, p.get(), 10101);
    }
}

void TZipArchiver::Add() {
    SuccessCount = 0;
    bool busyHere = false;
    bool loadedHere = false;
    bool engineRan = false;
    std::string tempArchive;  // the archive written when building a spanned set

    // Whatever happens, the request ends with this.
    auto finish = [&] {
        FSpecArgs.clear();
        FSpecArgsExcl.clear();
        if (loadedHere) UnloadEngine(kZipEngineId);
        if (busyHere) {
            Cancel = false;
            zipBusy_ = false;
        }
    };

    try {
        const bool spanning = AddOptions.has(AddOptsEnum::AddDiskSpan) ||
                              AddOptions.has(AddOptsEnum::AddDiskSpanErase);
        if (const int refusal = addRefusal(*this, spanning); refusal != 0) {
            ReportMessage(refusal);
            finish();
            return;
        }
        // A nested Add started from a handler while the engine runs does nothing.
        if (zipBusy_) return;

        if (spanning) {
            tempArchive = MakeTempArchiveName();
            if (tempArchive.empty()) throw EZipArchiver(11027, true);
            if (Verbose && OnMessage) OnMessage(this, 0, "Temporary zipfile: " + tempArchive);
        }
        const std::string archive = spanning ? tempArchive : fsx::resolve(ZipFileName());

        if (!spanning && upperExtensionIsExe(ZipFileName()) && SFXOffset() == 0 &&
            !fsx::fileExists(ZipFileName())) {
            int rc = WriteSFXStub(ZipFileName());
            if (rc != 0) throw EZipArchiver(10304, static_cast<int64_t>(rc));
        }

        if (!EngineLoaded(kZipEngineId)) {
            if (!LoadEngine(kZipEngineId)) {
                finish();
                return;
            }
            loadedHere = true;
        }
        zipBusy_ = true;
        busyHere = true;
        Cancel = false;
        const int version = EngineVersionOf(kZipEngineId);

        engineRan = true;
        try {
            SuccessCount = CallZipEngine(version, archive);
            if (spanning) {
                if (SuccessCount > 0 && !WriteSpannedSet(tempArchive)) SuccessCount = 0;
                fsx::deleteFile(tempArchive);
            }
        } catch (...) {
            if (spanning) fsx::deleteFile(tempArchive);
            SuccessCount = 0;
            ReportMessage(10101);
        }
    } catch (const EZipArchiver& e) {
        if (!tempArchive.empty()) fsx::deleteFile(tempArchive);
        ReportException(e);
    } catch (const std::bad_alloc&) {
        if (!tempArchive.empty()) fsx::deleteFile(tempArchive);
        ReportMessage(10103);
    }
    finish();
    if (engineRan && SuccessCount > 0) List();
}
