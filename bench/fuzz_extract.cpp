// Fuzz target for the extraction engine: every input is written to a file and extracted
// by UnzipEngineExec into a fresh folder, or into a memory block, with the options taken
// from its last byte. After each run nothing may exist beside the target folder, and the
// target may hold neither symbolic links nor unfinished temporary files.
//
// Built as a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh extract), with the
// engine's sources compiled in. Otherwise a replay program that loads UNZENG.DLL from
// its own folder: fuzz_extract FILE... runs each file the same way.

#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/EngineAbi.h"

namespace fs = std::filesystem;
using namespace engine;

#ifdef TM_FUZZ_ENGINE_LINKED
TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL UnzipEngineExec(UnzipParams* params);
#endif

namespace {

UnzipEngineExecFn engineEntry() {
#ifdef TM_FUZZ_ENGINE_LINKED
    return &UnzipEngineExec;
#else
    static UnzipEngineExecFn fn = [] {
        std::string dir = fs::read_symlink("/proc/self/exe").parent_path().string();
        void* lib = dlopen((dir + "/UNZENG.DLL").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(2);
        }
        return reinterpret_cast<UnzipEngineExecFn>(dlsym(lib, "UnzipEngineExec"));
    }();
    return fn;
#endif
}

// Answers the engine's questions from the option byte; may ask it to stop after a
// number of calls.
struct Answers {
    uint8_t options = 0;
    int calls = 0;
    int stopAfter = -1;

    static int32_t TM_ENGINE_CALL callback(EngineCallbackRecord* r) {
        auto* self = static_cast<Answers*>(r->caller);
        if (r->text[sizeof r->text - 1] != '\0') __builtin_trap();  // text always terminated
        switch (r->actionCode) {
            case cbPassword:
                if (self->options & 0x20) {
                    std::snprintf(r->text, sizeof r->text, "secret");
                    r->arg1 = 1;
                } else {
                    r->arg1 = 0;
                }
                break;
            case cbCrcError:
                r->arg1 = (self->options & 0x40) ? 1 : 2;
                break;
            case cbOverwrite:
                r->arg2 = (self->calls & 1) ? 1 : 0;
                break;
            default:
                break;
        }
        ++self->calls;
        return self->stopAfter >= 0 && self->calls > self->stopAfter ? -1 : 0;
    }
};

struct Sandbox {
    fs::path root, archive, target, outside;
    Sandbox() {
        root = fuzzsupport::scratchPath("fuzz_extract");
        archive = root / "in.zip";
        target = root / "t";
        outside = root / "outside";
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_extract: %s\n", what);
        __builtin_trap();
    }
}

void extractOnce(const uint8_t* data, size_t size) {
    static Sandbox box;
    std::error_code ec;
    fs::remove_all(box.root, ec);
    fs::create_directories(box.target);
    fs::create_directories(box.outside);
    if (!fuzzsupport::writeInput(box.archive, data, size)) return;
    // Last byte: options; the four before it: size of the memory block (below 1 MB).
    const uint8_t options = size ? data[size - 1] : 0;
    uint32_t memSize = 0;
    if (size >= 5) std::memcpy(&memSize, data + size - 5, 4);
    memSize &= 0xFFFFF;
    const bool toMemory = options & 0x01;

    Answers answers;
    answers.options = options;
    if (options & 0x80) answers.stopAfter = (options >> 1) & 0x0F;
    UnzipFileSpec spec{};
    spec.pattern = (options & 0x10) ? "*.txt" : "*.*";
    UnzipParams p{};
    p.caller = &answers;
    p.version = kInterfaceVersion;
    p.callback = &Answers::callback;
    p.password = (options & 0x08) ? "secret" : "";
    p.test = (options & 0x06) == 0x06 ? -1 : 0;
    p.reserved40 = -1;
    p.update = (options & 0x06) == 0x02 ? -1 : 0;
    p.freshen = (options & 0x06) == 0x04 ? -1 : 0;
    p.directories = (options & 0x40) ? 0 : -1;
    p.overwrite = (options & 0x20) ? 0 : -1;
    p.argc = 1;
    std::string archive = box.archive.string();
    p.archive = archive.c_str();
    p.fileSpecs = &spec;
    p.passwordReqCount = 2;
    p.seven = kEndMarker;
    // Exactly the block's size, so that a write past its end is caught.
    std::unique_ptr<uint8_t[]> block;
    if (toMemory) {
        block.reset(new uint8_t[memSize ? memSize : 1]);
        p.toMemory = -1;
        p.memory = memSize ? block.get() : nullptr;
        p.memorySize = memSize;
    }

    char cwd[4096];
    check(getcwd(cwd, sizeof cwd) != nullptr, "getcwd");
    check(chdir(box.target.c_str()) == 0, "chdir");
    const int32_t n = engineEntry()(&p);
    check(chdir(cwd) == 0, "chdir back");
    check(n >= 0, "negative result");
    if (toMemory) check(n <= 1, "more than one member into memory");

    // Nothing beside the target folder, nothing in the sentinel folder.
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(box.root)) {
        (void)e;
        ++entries;
    }
    check(entries == 3, "something was written beside the target folder");
    check(fs::is_empty(box.outside), "something was written outside the target folder");
    size_t files = 0;
    for (auto it = fs::recursive_directory_iterator(box.target); it != fs::end(it); ++it) {
        check(!it->is_symlink(), "a symbolic link was created");
        check(it->path().extension() != ".part", "an unfinished temporary file was left");
        if (it->is_regular_file()) ++files;
    }
    check(toMemory || p.test ? files == 0 : files <= size_t(n),
          "more files than the engine reports, or files written in memory or test mode");
}

}  // namespace

TM_FUZZ_TARGET(extractOnce, "extracted")
