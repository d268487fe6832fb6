#pragma once
// The extraction engine of the fuzz targets that drive the archive component: the
// instrumented UNZENG.DLL built for them (TM_FUZZ_ENGINE_DIR), else the one beside the
// replay program, kept mapped for the whole run, so that the component's loading and
// unloading per request only counts references (and coverage stays registered).

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzsupport {

inline const std::string& engineDir() {
    static const std::string dir = [] {
#ifdef TM_FUZZ_ENGINE_DIR
        std::string d = TM_FUZZ_ENGINE_DIR;
#else
        std::string d = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
#endif
        if (!dlopen((d + "/UNZENG.DLL").c_str(), RTLD_NOW | RTLD_NODELETE)) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(2);
        }
        return d;
    }();
    return dir;
}

}  // namespace fuzzsupport
