// Drives the engine libraries from the command line for bench/engine_bench.sh:
//   engine_bench BIN_DIR extract ARCHIVE      extract everything into the current folder
//   engine_bench BIN_DIR add ARCHIVE LEVEL    add the current folder's tree, recursing
// Prints the engine's result (files done) and the wall time in seconds.

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/EngineAbi.h"

using namespace engine;

namespace {

int32_t TM_ENGINE_CALL quietCallback(EngineCallbackRecord* r) {
    if (r->actionCode == cbMessage || r->actionCode == cbSkipped)
        std::fprintf(stderr, "engine: %d %s\n", r->arg1, r->text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BIN_DIR extract|add ARCHIVE [LEVEL]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1], op = argv[2];
    const bool add = op == "add";
    void* lib = dlopen((dir + (add ? "/ZIPENG.DLL" : "/UNZENG.DLL")).c_str(), RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    int32_t n = 0;
    if (add) {
        auto fn = reinterpret_cast<ZipEngineExecFn>(dlsym(lib, "ZipEngineExec"));
        ZipFileSpec spec{};
        spec.pattern = "*.*";
        spec.recurse = 0xFFFF;
        ZipParams p{};
        p.version = kInterfaceVersion;
        p.callback = quietCallback;
        p.level = argc > 4 ? std::atoi(argv[4]) : 5;
        p.recurse = 0xFFFF;
        p.hiddenFiles = -1;
        p.argc = 1;
        p.archive = argv[3];
        p.fileSpecs = &spec;
        p.seven = kEndMarker;
        n = fn(&p);
    } else {
        auto fn = reinterpret_cast<UnzipEngineExecFn>(dlsym(lib, "UnzipEngineExec"));
        UnzipFileSpec spec{};
        spec.pattern = "*.*";
        UnzipParams p{};
        p.version = kInterfaceVersion;
        p.callback = quietCallback;
        p.password = "";
        p.directories = -1;
        p.overwrite = -1;
        p.argc = 1;
        p.archive = argv[3];
        p.fileSpecs = &spec;
        p.seven = kEndMarker;
        n = fn(&p);
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d %.3f\n", n, secs);
    dlclose(lib);
    return n > 0 ? 0 : 1;
}
