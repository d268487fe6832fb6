// zipop: runs one Add, Extract or ExtractToStream request of the archive component,
// unattended, with the engines beside the program.
//
//   zipop add ARCHIVE [--level N] [--dirnames] [--recurse] [--move] [--update] [--freshen]
//                     [--encrypt] [--password P] [--root DIR] [--exclude SPEC] SPEC...
//   zipop extract ARCHIVE --dir DIR [--dirnames] [--overwrite] [--update] [--freshen]
//                     [--test] [--password P] [SPEC...]
//   zipop stream ARCHIVE MEMBER      (the member's bytes go to standard output)
//
// Every command also takes --dll-dir DIR. The report (success count, skipped files,
// messages) goes to standard output, for "stream" to standard error. Exit status: 0 when
// at least one file was processed, 1 when none, 2 for a usage error.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"

namespace {

int usage() {
    std::fputs(
        "usage: zipop add ARCHIVE [--level N] [--dirnames] [--recurse] [--move] [--update]\n"
        "                 [--freshen] [--encrypt] [--password P] [--root DIR]\n"
        "                 [--exclude SPEC] SPEC...\n"
        "       zipop extract ARCHIVE --dir DIR [--dirnames] [--overwrite] [--update]\n"
        "                 [--freshen] [--test] [--password P] [SPEC...]\n"
        "       zipop stream ARCHIVE MEMBER\n"
        "       (all: [--dll-dir DIR])\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command != "add" && command != "extract" && command != "stream") return usage();

    TZipArchiver zip;
    zip.Unattended = true;
    zip.AddCompLevel = 5;
    zip.AddStoreSuffixes = {
        AddStoreSuffixEnum::assGIF, AddStoreSuffixEnum::assPNG, AddStoreSuffixEnum::assZ,
        AddStoreSuffixEnum::assZIP, AddStoreSuffixEnum::assZOO, AddStoreSuffixEnum::assARC,
        AddStoreSuffixEnum::assLZH, AddStoreSuffixEnum::assARJ, AddStoreSuffixEnum::assTAZ,
        AddStoreSuffixEnum::assTGZ, AddStoreSuffixEnum::assLHA};
    std::FILE* report = command == "stream" ? stderr : stdout;
    zip.OnMessage = [report](TZipArchiver*, int code, const std::string& text) {
        std::fprintf(report, "message %d: %s\n", code, text.c_str());
    };
    zip.OnExtractSkipped = [report](TZipArchiver*, const std::string& file, int type, int err) {
        std::fprintf(report, "skipped: %s (type %d, error %d)\n", file.c_str(), type, err);
    };

    const std::string archive = argv[2];
    std::vector<std::string> specs;
    std::string dir;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--level" && value(v))
            zip.AddCompLevel = std::atoi(v.c_str());
        else if (a == "--dirnames") {
            zip.AddOptions.insert(AddOptsEnum::AddDirNames);
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
        } else if (a == "--recurse")
            zip.AddOptions.insert(AddOptsEnum::AddRecurseDirs);
        else if (a == "--move")
            zip.AddOptions.insert(AddOptsEnum::AddMove);
        else if (a == "--update") {
            zip.AddOptions.insert(AddOptsEnum::AddUpdate);
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrUpdate);
        } else if (a == "--freshen") {
            zip.AddOptions.insert(AddOptsEnum::AddFreshen);
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrFreshen);
        } else if (a == "--encrypt")
            zip.AddOptions.insert(AddOptsEnum::AddEncrypt);
        else if (a == "--overwrite")
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrOverWrite);
        else if (a == "--test")
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrTest);
        else if (a == "--password" && value(v))
            zip.Password = v;
        else if (a == "--root" && value(v))
            zip.RootDir = v;
        else if (a == "--exclude" && value(v))
            zip.FSpecArgsExcl.push_back(v);
        else if (a == "--dir" && value(v))
            dir = v;
        else if (a == "--dll-dir" && value(v))
            zip.SetDLLDirectory(v);
        else if (a.rfind("--", 0) == 0)
            return usage();
        else
            specs.push_back(a);
    }

    zip.SetZipFileName(archive);
    if (command == "add") {
        if (specs.empty()) return usage();
        zip.FSpecArgs = specs;
        zip.Add();
    } else if (command == "extract") {
        if (dir.empty()) return usage();
        zip.ExtrBaseDir = dir;
        zip.FSpecArgs = specs;
        zip.Extract();
    } else {
        if (specs.size() != 1) return usage();
        TZipStream* s = zip.ExtractToStream(specs.front());
        if (s && s->Size() > 0 &&
            std::fwrite(s->Memory(), 1, static_cast<size_t>(s->Size()), stdout) !=
                static_cast<size_t>(s->Size()))
            return 1;
        std::fflush(stdout);
    }
    std::fprintf(report, "SuccessCount: %d\n", zip.SuccessCount);
    return zip.SuccessCount > 0 ? 0 : 1;
}
