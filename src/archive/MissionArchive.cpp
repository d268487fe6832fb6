#include "archive/MissionArchive.h"

#include <fstream>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

namespace {

// A ZIP mission: the component's own directory reader, in-memory extraction and engine.
class ZipMission final : public MissionArchive {
  public:
    // `path`: the archive the component was pointed at (it forgets the name of one it
    // could not read).
    ZipMission(TZipArchiver& zip, std::unique_ptr<TZipArchiver> owned, const std::string& path)
        : MissionArchive(path), zip_(zip), owned_(std::move(owned)) {
        listMembers();
    }

    bool sequential() const override { return false; }

    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        // Entries may change while a member is extracted (never here, but stay safe).
        const std::vector<ArchiveMember> listed = members_;
        for (const ArchiveMember& member : listed) {
            if (names.count(member.name) == 0 || member.size > cap) continue;
            std::string data;
            if (!zip_.ExtractToString(member.name, data) || data.size() > cap) continue;
            if (!take(member, data)) break;
        }
        return ArchiveStatus::Ok;
    }

    ExtractResult extract(const std::vector<std::string>& names, const std::string& targetDir,
                          ExtractSink& sink) override {
        ExtractResult result;
        if (names.empty()) return result;
        const TProgressEvent savedProgress = zip_.OnProgress;
        uint64_t total = 0, done = 0, current = 0;
        zip_.OnProgress = [&](TZipArchiver*, ProgressType type, const std::string& name,
                              int64_t size) {
            if (type == progTotalSize) total = static_cast<uint64_t>(size);
            if (type == progNewFile) {
                done += current;
                current = 0;
                sink.member(name, static_cast<uint64_t>(size));
            }
            if (type == progAdvance) current += static_cast<uint64_t>(size);
            sink.progress(done + current, total);
            if (sink.cancelled()) zip_.Cancel = true;
        };
        zip_.FSpecArgs = names;
        zip_.ExtrBaseDir = text::withTrailingDelim(targetDir);
        zip_.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames).insert(ExtrOptsEnum::ExtrOverWrite);
        {
            const fsx::KeepCurrentDirectory kept;
            zip_.Extract();
        }
        zip_.OnProgress = savedProgress;
        result.extracted = zip_.SuccessCount;
        if (zip_.Cancel) {
            result.status = ArchiveStatus::Cancelled;
        } else if (zip_.ErrCode != 0) {
            result.status = ArchiveStatus::Damaged;
            result.detail = zip_.Message;
        }
        zip_.Cancel = false;
        return result;
    }

  private:
    void listMembers() {
        if (!fsx::fileExists(path_)) status_ = ArchiveStatus::NotFound;
        for (const ZipDirEntry& entry : zip_.Entries()) {
            members_.push_back({entry.FileName, entry.UncompressedSize64, entry.DateTime});
        }
        if (status_ == ArchiveStatus::Ok && members_.empty() && zip_.ErrCode != 0) {
            status_ = ArchiveStatus::Damaged;
            detail_ = zip_.Message;
        }
    }

    TZipArchiver& zip_;
    std::unique_ptr<TZipArchiver> owned_;
};

}  // namespace

bool MissionArchive::readMember(const std::string& name, uint64_t cap, std::string& out) {
    bool found = false;
    readMembers({name}, cap, [&](const ArchiveMember&, std::string& data) {
        out = std::move(data);
        found = true;
        return false;
    });
    return found;
}

const std::vector<std::string>& missionArchiveExtensions() {
    static const std::vector<std::string> extensions = {".zip", ".7z", ".rar", ".ss2mod"};
    return extensions;
}

std::string missionArchiveExtension(const std::string& fileName) {
    const std::string ext = text::lowerAscii(text::extractFileExt(fileName));
    for (const std::string& known : missionArchiveExtensions()) {
        if (ext == known) return ext;
    }
    return std::string();
}

bool readsAsZip(const std::string& path) {
    const std::string ext = missionArchiveExtension(path);
    if (ext != ".ss2mod") return ext == ".zip";
    std::ifstream in(fsx::resolve(path), std::ios::binary);
    char signature[2] = {};
    return in.read(signature, 2) && signature[0] == 'P' && signature[1] == 'K';
}

std::string MemberRoot(const std::vector<ArchiveMember>& members) {
    std::string root;
    bool missionFile = false;
    for (const ArchiveMember& m : members) {
        const size_t cut = m.name.find_first_of("\\/");
        if (cut == std::string::npos || cut == 0) return {};
        const std::string top = m.name.substr(0, cut + 1);
        if (root.empty()) root = top;
        if (top.compare(0, top.size() - 1, root, 0, root.size() - 1) != 0) return {};
        const std::string rest = m.name.substr(cut + 1);
        if (rest.find_first_of("\\/") == std::string::npos &&
            text::lowerAscii(text::extractFileExt(rest)) == ".mis")
            missionFile = true;
    }
    return missionFile ? root : std::string();
}

std::string WithoutMemberRoot(const std::string& name, const std::string& root) {
    if (root.empty() || name.size() <= root.size() ||
        name.compare(0, root.size() - 1, root, 0, root.size() - 1) != 0)
        return name;
    return name.substr(root.size());
}

std::unique_ptr<MissionArchive> zipMission(TZipArchiver& zip) {
    return std::make_unique<ZipMission>(zip, nullptr, zip.ZipFileName());
}

namespace {

// A ZIP mission over a component of its own, set up by `setUp` before it reads `path`.
template <typename SetUp>
std::unique_ptr<MissionArchive> ownZipMission(const std::string& path, SetUp setUp) {
    auto zip = std::make_unique<TZipArchiver>();
    setUp(*zip);
    zip->SetZipFileName(path);
    TZipArchiver& ref = *zip;
    return std::make_unique<ZipMission>(ref, std::move(zip), path);
}

}  // namespace

std::unique_ptr<MissionArchive> openMissionArchive(const std::string& path) {
    if (!readsAsZip(path)) return libarchiveMission(path);
    return ownZipMission(path, [](TZipArchiver& zip) { zip.Unattended = true; });
}

std::unique_ptr<MissionArchive> openMissionArchive(const std::string& path,
                                                   const TZipArchiver& like,
                                                   const std::string& password) {
    if (!readsAsZip(path)) return libarchiveMission(path);
    return ownZipMission(path, [&](TZipArchiver& zip) {
        zip.SetDLLDirectory(like.DLLDirectory());
        zip.CodePage = like.CodePage;
        zip.Unattended = like.Unattended;
        zip.OnMessage = like.OnMessage;
        zip.OnPasswordError = like.OnPasswordError;
        zip.OnCRC32Error = like.OnCRC32Error;
        zip.OnExtractOverwrite = like.OnExtractOverwrite;
        zip.OnExtractSkipped = like.OnExtractSkipped;
        zip.Password = password;
    });
}

void pointComponentAt(TZipArchiver& zip, const std::string& path) {
    // A damaged archive is said so by whoever shows it, never by a box of the component's.
    const bool unattended = zip.Unattended;
    zip.Unattended = true;
    zip.SetZipFileName(path);
    zip.Unattended = unattended;
}
