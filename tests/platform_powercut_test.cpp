// The crash tests' file-system shim (powercut/PowerCut.h) on small scenarios, each run in a
// forked child armed at one step: what a power cut leaves on the disk, where a kill stops,
// which call fails and with what.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "powercut/PowerCut.h"
#include "support/TestSupport.h"

namespace {

using powercut::Mode;
using Tree = std::map<std::string, std::string>;  // path ("d/" a folder) -> content

// The calls the way the program makes them, relative to the test's folder.
void put(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written = ::write(fd, text, std::strlen(text)) == ssize_t(std::strlen(text));
    ::close(fd);
    if (!written) put("error", std::to_string(errno).c_str());
}
void flush(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    ::fsync(fd);
    ::close(fd);
}
void move(const char* from, const char* to) {
    if (::rename(from, to) != 0) put("error", std::to_string(errno).c_str());
}

const Tree kBefore = {{"old", "old"}, {"keep/", ""}, {"keep/x", "x"}, {"gone/", ""}};

Tree with(Tree tree, const Tree& changes) {
    for (const auto& [path, content] : changes)
        if (content == "-")
            tree.erase(path);
        else
            tree[path] = content;
    return tree;
}

struct Row {
    const char* what;
    Mode mode;
    long step;
    std::function<void()> body;
    Tree after;
};

const Row kRows[] = {
    {"a new file synced, its folder not: gone", Mode::PowerCut, 1,
     [] {
         put("new", "n");
         flush("new");
     },
     kBefore},
    {"a new file and its folder synced: kept", Mode::PowerCut, 2,
     [] {
         put("new", "n");
         flush("new");
         flush(".");
     },
     with(kBefore, {{"new", "n"}})},
    {"a new file whose folder alone is synced: there, empty", Mode::PowerCut, 1,
     [] {
         put("new", "n");
         flush(".");
     },
     with(kBefore, {{"new", ""}})},
    {"a file rewritten, not synced: what it held", Mode::PowerCut, 1,
     [] {
         put("old", "changed");
         put("keep/t", "t");
         flush("keep");
     },
     with(kBefore, {{"keep/t", ""}})},
    {"a rename over a file, the folder not synced: the old file back", Mode::PowerCut, 2,
     [] {
         put("tmp", "new");
         flush("tmp");
         move("tmp", "old");
         put("keep/t", "t");
         flush("keep");
     },
     with(kBefore, {{"keep/t", ""}})},
    {"a rename over a file, the folder synced: the new file", Mode::PowerCut, 2,
     [] {
         put("tmp", "new");
         flush("tmp");
         move("tmp", "old");
         flush(".");
     },
     with(kBefore, {{"old", "new"}})},
    {"an unlink, the folder not synced: the file back", Mode::PowerCut, 1,
     [] {
         ::unlink("old");
         ::unlink("keep/x");
         flush("keep");
     },
     with(kBefore, {{"keep/x", "-"}})},
    {"a folder made and synced, its parent not: gone with all in it", Mode::PowerCut, 2,
     [] {
         ::mkdir("d", 0755);
         put("d/f", "f");
         flush("d/f");
         flush("d");
     },
     kBefore},
    {"a folder removed, its parent not synced: back", Mode::PowerCut, 1,
     [] {
         ::rmdir("gone");
         put("keep/t", "t");
         flush("keep");
     },
     with(kBefore, {{"keep/t", ""}})},
    {"sync(): everything kept", Mode::PowerCut, 1,
     [] {
         put("new", "n");
         move("old", "keep/old");
         ::rmdir("gone");
         ::sync();
     },
     with(kBefore, {{"new", "n"}, {"old", "-"}, {"keep/old", "old"}, {"gone/", "-"}})},
    {"a kill at the second change: the file created, not written", Mode::Kill, 2,
     [] { put("new", "n"); }, with(kBefore, {{"new", ""}})},
    {"a kill at a rename: not renamed", Mode::Kill, 1, [] { move("old", "new"); }, kBefore},
    {"the second failing call (a write) fails with ENOSPC", Mode::Fail, 2, [] { put("new", "n"); },
     with(kBefore, {{"new", ""}, {"error", std::to_string(ENOSPC)}})},
    {"a rename failing: EIO, nothing renamed", Mode::Fail, 1, [] { move("old", "new"); },
     with(kBefore, {{"error", std::to_string(EIO)}})},
};

Tree treeOf(const std::string& dir) {
    Tree tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = e.path().string().substr(dir.size());
        if (name.rfind(".powercut", 0) == 0) continue;
        if (e.is_directory())
            tree[name + "/"] = "";
        else
            tree[name] = readFile(e.path().string());
    }
    return tree;
}

TEST(PowerCut, LeavesWhatTheModeSays) {
    for (const Row& row : kRows) {
        TempDir dir;
        for (const auto& [path, content] : kBefore)
            if (path.back() == '/')
                std::filesystem::create_directories(dir.path() + path);
            else
                writeFile(dir.path() + path, content);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0) ::_exit(2);
            powercut::arm(dir.path(), row.mode, row.step);
            row.body();
            const bool reached = powercut::reached();
            powercut::disarm();
            ::_exit(reached ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << row.what << ": the step was not reached";
        EXPECT_EQ(killed, row.mode != Mode::Fail) << row.what;
        EXPECT_FALSE(powercut::stepNote(dir.path()).empty()) << row.what;
        EXPECT_EQ(treeOf(dir.path()), row.after) << row.what;
    }
}

}  // namespace
