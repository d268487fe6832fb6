#pragma once
// Loads the engine libraries straight from the build's bin folder and records their
// callbacks, for the engine tests.

#include <dlfcn.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/EngineAbi.h"
#include "support/TestSupport.h"

namespace enginetest {

struct Event {
    int32_t action;
    int32_t arg1;
    int64_t arg2;
    std::string text;
};

// Collects every callback; `answer` may change the record (and return -1 to stop).
struct Recorder {
    std::vector<Event> events;
    std::function<int32_t(engine::EngineCallbackRecord&)> answer;

    static int32_t TM_ENGINE_CALL callback(engine::EngineCallbackRecord* r) {
        auto* self = static_cast<Recorder*>(r->caller);
        int64_t a2 = r->arg2Wide ? r->arg2Wide : r->arg2;
        self->events.push_back({r->actionCode, r->arg1, a2, std::string(r->text)});
        return self->answer ? self->answer(*r) : 0;
    }
    std::vector<Event> of(int32_t action) const {
        std::vector<Event> r;
        for (const auto& e : events)
            if (e.action == action) r.push_back(e);
        return r;
    }
    int64_t sum(int32_t action) const {
        int64_t s = 0;
        for (const auto& e : events)
            if (e.action == action) s += e.arg2;
        return s;
    }
    std::string messages() const {
        std::string s;
        for (const auto& e : events)
            if (e.action == engine::cbMessage) s += e.text + "\n";
        return s;
    }
};

class Library {
  public:
    explicit Library(const char* name) {
        std::string path = std::string(TM_TEST_BIN_DIR) + "/" + name;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~Library() {
        if (handle_) dlclose(handle_);
    }
    template <typename F>
    F get(const char* sym) const {
        return handle_ ? reinterpret_cast<F>(dlsym(handle_, sym)) : nullptr;
    }
    bool loaded() const { return handle_ != nullptr; }

  private:
    void* handle_ = nullptr;
};

// Makes a folder the current directory for its lifetime.
class InDir {
  public:
    explicit InDir(const std::string& dir) {
        char buf[4096];
        old_ = getcwd(buf, sizeof buf) ? buf : "/";
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
    }
    ~InDir() { (void)chdir(old_.c_str()); }

  private:
    std::string old_;
};

// Runs a Python script (written to a file in `dir`) and expects success.
inline void python(const TempDir& dir, const std::string& script) {
    std::string path = dir.write("script.py", script);
    std::string out;
    ASSERT_EQ(runCommand("python3 " + path + " 2>&1", &out), 0) << out;
}

inline std::string quote(const std::string& s) {
    return "'" + s + "'";
}

}  // namespace enginetest
