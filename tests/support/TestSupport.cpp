#include "support/TestSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/FileSystem.h"

namespace stdfs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (stdfs::temp_directory_path() / "tmtest-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Extraction makes its target the current directory: do not leave the process in a
    // directory that is about to vanish.
    const std::string cwd = stdfs::current_path(ec).string() + "/";
    if (!ec && cwd.compare(0, path_.size(), path_) == 0)
        stdfs::current_path(stdfs::temp_directory_path(), ec);
    // Make everything writable again so read-only test files do not stay behind.
    for (auto it = stdfs::recursive_directory_iterator(path_, ec);
         it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    }
    stdfs::permissions(path_, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& relative) const {
    return path_ + relative;
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
    std::string p = path_ + relative;
    stdfs::create_directories(stdfs::path(p).parent_path());
    writeFile(p, content);
    return p;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

int runCommand(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void snapshot(const std::string& dir, const std::string& prefix,
              std::map<std::string, std::string>& out, const std::set<std::string>& skip) {
    for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*")) {
        if (skip.count(prefix + e.name)) continue;
        if (e.isDirectory)
            snapshot(dir + e.name + "/", prefix + e.name + "/", out, skip);
        else
            out[prefix + e.name] = readFile(dir + e.name);
    }
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null") == 0;
}

StandInPrograms::StandInPrograms(const std::vector<std::string>& names)
    : savedPath_(getenv("PATH") ? getenv("PATH") : "") {
    for (const std::string& name : names) {
        const std::string path = dir_.write(name, "#!/bin/sh\nexit 0\n");
        stdfs::permissions(path, stdfs::perms::owner_all);
    }
    setenv("PATH", (dir_.path() + ":" + savedPath_).c_str(), 1);
}

StandInPrograms::~StandInPrograms() {
    setenv("PATH", savedPath_.c_str(), 1);
}

namespace {

std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

bool makeZip(const std::string& zipPath,
             const std::vector<std::pair<std::string, std::string>>& members, bool stored) {
    std::string script = "import zipfile,sys\n";
    script += "z=zipfile.ZipFile(bytes.fromhex('" + hex(zipPath) +
              "').decode('utf-8','surrogateescape'),'w'," +
              (stored ? "zipfile.ZIP_STORED" : "zipfile.ZIP_DEFLATED") + ")\n";
    for (const auto& [name, content] : members) {
        script += "i=zipfile.ZipInfo(bytes.fromhex('" + hex(name) +
                  "').decode('utf-8','surrogateescape'),(2020,5,17,12,30,10))\n";
        script += "i.compress_type=z.compression\n";
        script += "z.writestr(i,bytes.fromhex('" + hex(content) + "'))\n";
    }
    script += "z.close()\n";
    TempDir tmp;
    const std::string py = tmp.write("make.py", script);
    return runCommand("python3 " + py) == 0;
}

ScriptedPrompter::ScriptedPrompter() : previous_(setPrompter(this)) {}
ScriptedPrompter::~ScriptedPrompter() {
    setPrompter(previous_);
}

PromptResult ScriptedPrompter::message(const std::string& text, PromptButtons buttons,
                                       PromptIcon icon, const std::string& caption,
                                       PromptResult defaultButton) {
    messages.push_back({text, caption, buttons, icon});
    if (answers.empty()) return defaultButton;
    PromptResult r = answers.front();
    answers.pop_front();
    return r;
}

bool ScriptedPrompter::password(const std::string& title, const std::string& prompt,
                                std::string& text) {
    passwordPrompts.push_back({title, prompt});
    if (passwords.empty()) {
        text.clear();
        return false;
    }
    auto [ok, t] = passwords.front();
    passwords.pop_front();
    text = ok ? t : std::string();
    return ok;
}

int ScriptedPrompter::runModal(ModalDialog& dialog) {
    dialogsRun.push_back(dialog.dialogName());
    auto it = dialogs.find(dialog.dialogName());
    return it == dialogs.end() ? 0 : it->second(dialog);
}
