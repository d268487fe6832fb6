#pragma once
// A mission archive whatever its format: the member list, members read into memory and a
// chosen set of members extracted into a folder. ZIP archives go through the archive
// component (TZipArchiver); .7z and .rar archives through libarchive, read front to back.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TZipArchiver;

// The most a .7z decoder may take (LZMA dictionary, PPMd model): an archive asking more is
// refused before anything is unpacked.
constexpr uint64_t kMaxDecoderMemory = uint64_t(256) << 20;
// The most member data one pass of readMembers hands out, all members together.
constexpr uint64_t kMaxPassBytes = uint64_t(256) << 20;

struct ArchiveMember {
    std::string name;      // path inside the archive with "\" separators, as stored
    uint64_t size = 0;     // uncompressed size as the archive declares it
    uint32_t dosTime = 0;  // DOS date-time: time in the low 16 bits, date in the high 16
};

enum class ArchiveStatus {
    Ok,
    NotFound,     // no such file
    NotArchive,   // not an archive of a known format
    Damaged,      // headers or data do not read back
    Encrypted,    // needs a password (header or members)
    Unsupported,  // a compression method or feature that cannot be read
    TooLarge,     // a member beyond the size allowed for reading it into memory
    UnsafeName,   // a member that would land outside the target folder or through a link
    WriteFailed,  // the target could not be written
    Cancelled,
};

// What an extraction reports and asks while it runs. Every hook has a no-op default.
class ExtractSink {
  public:
    virtual ~ExtractSink() = default;
    virtual void member(const std::string& /*name*/, uint64_t /*size*/) {}
    virtual void progress(uint64_t /*done*/, uint64_t /*total*/) {}
    virtual bool cancelled() { return false; }
};

struct ExtractResult {
    ArchiveStatus status = ArchiveStatus::Ok;
    int extracted = 0;   // members written completely
    std::string member;  // the member the failure concerns, when there is one
    std::string detail;  // the reader's own words, for the log or a message
};

class MissionArchive {
  public:
    // Receives one member's data; false stops the pass.
    using Take = std::function<bool(const ArchiveMember&, std::string& data)>;

    virtual ~MissionArchive() = default;

    const std::string& path() const { return path_; }
    // Outcome of reading the member list.
    ArchiveStatus status() const { return status_; }
    const std::string& detail() const { return detail_; }
    const std::vector<ArchiveMember>& members() const { return members_; }
    // True when reading a member costs decoding what lies before it (the .7z and .rar
    // readers): callers then read what they need in one pass and keep it.
    virtual bool sequential() const = 0;

    // Reads the members named in `names` (exact names as listed) in one pass in archive
    // order and hands each to `take`; stops when all were seen or `take` says so. A member
    // larger than `cap` (as declared or as it turns out) is skipped, and so is every member
    // once the pass has handed out kMaxPassBytes; memory grows only with the data actually
    // produced.
    virtual ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                                      const Take& take) = 0;
    // Members a pass was asked for and could not hand out (too large, past the pass's
    // bound, damaged data): asking again would only decode them again.
    const std::set<std::string>& unreadable() const { return unreadable_; }
    // One member into `out`; false when it cannot be read within `cap`.
    bool readMember(const std::string& name, uint64_t cap, std::string& out);

    // Extracts the members named in `names` into `targetDir` (which exists), folders
    // created as needed, existing files of the same name (in any case) replaced.
    virtual ExtractResult extract(const std::vector<std::string>& names,
                                  const std::string& targetDir, ExtractSink& sink) = 0;

  protected:
    explicit MissionArchive(std::string path) : path_(std::move(path)) {}
    std::string path_;
    ArchiveStatus status_ = ArchiveStatus::Ok;
    std::string detail_;
    std::vector<ArchiveMember> members_;
    std::set<std::string> unreadable_;
};

// The extensions of mission archives, lower case with the dot: ".zip", ".7z", ".rar", and
// ".ss2mod", System Shock 2's old mission packages.
const std::vector<std::string>& missionArchiveExtensions();
// The mission archive extension of `fileName` (lower case), empty when it has none.
std::string missionArchiveExtension(const std::string& fileName);
// Whether the mission archive `path` is read as a ZIP archive: a ".zip", and a ".ss2mod"
// that begins like one ("PK"; the package is a ZIP archive under another name). Any other
// ".ss2mod" is read by its content as a .7z or .rar is, and one that is no archive is no
// mission.
bool readsAsZip(const std::string& path);

// The one folder a download packs the whole mission in ("Mission\" of "Mission\miss20.mis",
// "Mission\strings\titles.str", ...): the folder every member lies in when a mission file
// lies right in it. The mission is read and installed as if it were not there. Empty for
// any other archive.
std::string MemberRoot(const std::vector<ArchiveMember>& members);
// A member's name without that folder.
std::string WithoutMemberRoot(const std::string& name, const std::string& root);

// The files an archive is read from: for the first volume of a multi-volume RAR set
// ("x.part1.rar", "x.part2.rar", ... or "x.rar", "x.r00", "x.r01", ...) the volumes that
// exist in order; for any other archive the archive alone.
std::vector<std::string> archiveVolumes(const std::string& path);
// True for a later volume of a multi-volume RAR set ("x.part2.rar" and on, when the file
// says it is a volume and the set's first volume lies beside it): it is read through the
// first volume and is no mission of its own.
bool isLaterVolume(const std::string& dir, const std::string& fileName);

// Opens the archive by its extension and reads its member list (see status()).
std::unique_ptr<MissionArchive> openMissionArchive(const std::string& path);
// The same with a ZIP archive read through a component of its own that takes the settings
// of `like` (engine folder, code page, attended or not, its handlers) and `password`.
std::unique_ptr<MissionArchive> openMissionArchive(const std::string& path,
                                                   const TZipArchiver& like,
                                                   const std::string& password);
// A ZIP mission over a component the caller keeps (its archive already set).
std::unique_ptr<MissionArchive> zipMission(TZipArchiver& zip);
// A .7z or .rar mission through libarchive.
std::unique_ptr<MissionArchive> libarchiveMission(const std::string& path);

// Points the ZIP component at a mission archive of any format. It reads ZIP archives only:
// for the others it lists nothing and says nothing about the format, and ZipFileName()
// names the archive all the same.
void pointComponentAt(TZipArchiver& zip, const std::string& path);
