// .7z missions through libarchive: extraction of a whole solid archive, the first and a later
// selection (analysis until the panel is filled), and the mission test of a scan over many
// small archives, first and second time. Driven by archive7z_bench.sh, which times 7-Zip
// on the same inputs and prints the ratios.
//   archive7z_bench extract ARCHIVE TARGET_DIR
//   archive7z_bench select ARCHIVE
//   archive7z_bench scan DIR
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/TypeDetection.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/MissionCache.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Progress.h"
#include "platform/TextUtil.h"

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::string freshSettingsDir() {
    char pattern[] = "/tmp/tm-7z-bench-XXXXXX";
    return std::string(mkdtemp(pattern)) + "/";
}

int extract(const std::string& path, const std::string& target) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<MissionArchive> archive = openMissionArchive(path);
    std::vector<std::string> names;
    for (const ArchiveMember& m : archive->members()) names.push_back(m.name);
    ExtractSink sink;
    const ExtractResult result = archive->extract(names, target, sink);
    std::printf("extract %.1f ms, %d of %zu members, status %d\n", msSince(start), result.extracted,
                names.size(), static_cast<int>(result.status));
    return result.status == ArchiveStatus::Ok ? 0 : 1;
}

// Passes everything to the archive it wraps and notes the members read, so that 7-Zip can
// be timed on the same ones.
class Recording final : public MissionArchive {
  public:
    explicit Recording(std::unique_ptr<MissionArchive> inner)
        : MissionArchive(inner->path()), inner_(std::move(inner)) {
        status_ = inner_->status();
        detail_ = inner_->detail();
        members_ = inner_->members();
    }
    bool sequential() const override { return inner_->sequential(); }
    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        return inner_->readMembers(names, cap, [&](const ArchiveMember& m, std::string& data) {
            read.insert(m.name);
            return take(m, data);
        });
    }
    ExtractResult extract(const std::vector<std::string>& names, const std::string& targetDir,
                          ExtractSink& sink) override {
        return inner_->extract(names, targetDir, sink);
    }
    std::set<std::string> read;

  private:
    std::unique_ptr<MissionArchive> inner_;
};

int select(const std::string& path) {
    openAppFiles(freshSettingsDir());
    const std::string key = ArchiveRecordKey(text::extractFileName(path), fsx::fileSize64(path));
    for (const char* which : {"first", "later"}) {
        const auto start = std::chrono::steady_clock::now();
        Recording archive(openAnalysedMission(missionCacheDir(programContext()), path, key));
        InfoPanel panel;
        SelectedMission mission;
        ProgressSink progress;
        AnalyseMission(programContext(), archive, key, panel, mission, progress);
        std::printf("select-%s %.1f ms (memo %zu bytes, %s)\n", which, msSince(start),
                    panel.questMemo.size(), panel.questinfo.c_str());
        for (std::string name : archive.read) {
            std::replace(name.begin(), name.end(), '\\', '/');
            std::printf("read %s\n", name.c_str());
        }
    }
    return 0;
}

int scan(const std::string& dir) {
    openAppFiles(freshSettingsDir());
    for (const char* which : {"first", "second"}) {
        const auto start = std::chrono::steady_clock::now();
        // As the catalogue scan does: the types of new archives reach the disk in one store.
        IniBatch batch(*app().settings);
        int missions = 0, archives = 0;
        for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*.7z")) {
            ++archives;
            missions += IsMissionArchive(*app().settings, dir, e.name) ? 1 : 0;
        }
        batch.Commit();
        std::printf("scan-%s %.1f ms (%d of %d archives are missions)\n", which, msSince(start),
                    missions, archives);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "select") == 0) return select(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "scan") == 0) return scan(text::withTrailingDelim(argv[2]));
    std::fprintf(stderr, "usage: archive7z_bench extract|select|scan ...\n");
    return 2;
}
