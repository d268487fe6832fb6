#pragma once
// File-system layer. Paths are native byte strings (UTF-8 on Linux) with the platform's
// separator; a directory held in a variable ends with it (kPathDelim).
//
// On a case-sensitive file system every path given to these functions is resolved
// component by component before use: the exact name when it exists, otherwise an existing
// entry that differs only in case (as Windows and Wine see names). A path to be created
// keeps its last component as given and goes into the existing folder of other case.

#include <cstdint>
#include <string>
#include <vector>

#include "base/NameLimits.h"

namespace fsx {

#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

// The path as it exists on disk, resolved without regard to case. Components that do not
// exist are kept as given (so the result names where a new file would be created).
std::string resolve(const std::string& path);

// The one rule by which two names are the same without regard to case, as resolve() meets
// them: the key is the Unicode case folding of a valid UTF-8 name (KELVIN SIGN meets "k",
// LONG S meets "s"; no normalisation, so NFC and NFD spellings stay apart), the ASCII lower
// case of any other byte string. Every check of the program's own names uses it.
std::string foldKey(const std::string& name);
bool sameName(const std::string& a, const std::string& b);
// The entries of `dir` that are the same name as `name` by that rule, in byte order.
std::vector<std::string> namesLike(const std::string& dir, const std::string& name);

bool fileExists(const std::string& path);       // a file (not a directory)
bool directoryExists(const std::string& path);  // a directory
bool pathExists(const std::string& path);       // either

// Size in bytes of the first entry matching the path (wildcards allowed in the last
// component), any attributes; -1 when there is none. Signed 32-bit as the callers expect.
int32_t fileSize(const std::string& path);
// 64-bit size of a file, -1 when it does not exist.
int64_t fileSize64(const std::string& path);

struct DirEntry {
    std::string name;  // name as stored on disk
    int64_t size = 0;  // bytes (0 for directories)
    bool isDirectory = false;
};
// Entries of `dir` whose names match `pattern` ("*" and "?", no regard to case), in the
// order the directory listing returns them. "." and ".." are never listed.
std::vector<DirEntry> listDirectory(const std::string& dir, const std::string& pattern);

// Last-write time of a file as a packed DOS date-time (time in the low 16 bits, date in
// the high 16 bits, local time); -1 when the file does not exist.
int32_t fileAgeDos(const std::string& path);
// DOS date-time <-> time_t (local time).
uint32_t unixToDos(int64_t t);
int64_t dosToUnix(uint32_t dos);

// Clears read-only (and on Windows hidden and system) attributes. Reports success.
bool clearAttributes(const std::string& path);

bool deleteFile(const std::string& path);
bool moveFile(const std::string& from, const std::string& to);  // also directories
bool copyFile(const std::string& from, const std::string& to, bool failIfExists = false);
bool createDirectory(const std::string& path);   // one level, lasting in its parent
bool forceDirectories(const std::string& path);  // every missing level
bool removeDirectory(const std::string& path);   // only when empty

// Replaces the whole content of a file so that a reader sees either the old or the new
// content, also after a crash or a power loss: a temporary file beside it (name + ".tm" +
// 12 hexadecimal digits + ".tmp", the name cut to fit, temporarySibling()), synced,
// renamed over the file, the folder synced.
bool atomicWrite(const std::string& path, const std::string& content);
// Pushes a file's (or a folder's) contents from the system's buffers to the disk.
bool syncPath(const std::string& path);
// Pushes each of the files and folders to the disk, several at a time: a journalling file
// system commits the flushes that wait together in one go, where one after another each
// waits for the disk (3,000 files on ext4: 8 s on one thread, 1 s on four). A name that is
// not there (any more) counts as pushed. False when anything could not be flushed.
bool syncAll(const std::vector<std::string>& paths);
// Every file and folder below `dir`, and `dir` last (links left alone).
bool syncTree(const std::string& dir);
// Makes the state of the files named, below `root`, lasting, whether each was written,
// created or deleted: the files there, and every folder from a file's own up to `root`
// that is there, so that their entries (a new name, a name gone, a folder made or
// removed) survive a power cut too.
bool syncBelow(const std::string& root, const std::vector<std::string>& files);

// A step that changes the disk. Every change above counts as one; callers count their own
// larger steps (a call into an engine) too. When the environment names a step number in
// TALLOWMERE_CRASH_STEP, the process is killed with SIGKILL at that step: the crash tests
// interrupt an operation everywhere this way. Without it nothing happens.
void crashPoint();

std::string currentDirectory();  // ends without separator
bool setCurrentDirectory(const std::string& path);

// Makes the process's current directory what it was at its construction again when it
// ends. The archive component makes the folder it extracts into current; a folder the
// program creates or deletes must not stay the current one.
class KeepCurrentDirectory {
  public:
    KeepCurrentDirectory() : saved_(currentDirectory()) {}
    ~KeepCurrentDirectory() {
        if (!saved_.empty()) setCurrentDirectory(saved_);
    }
    KeepCurrentDirectory(const KeepCurrentDirectory&) = delete;
    KeepCurrentDirectory& operator=(const KeepCurrentDirectory&) = delete;

  private:
    std::string saved_;
};

// Directory of the running executable, ending in the separator.
std::string exeDirectory();

// Joins a directory and an archive member name ("\" or "/" separators) into a native path.
std::string joinMember(const std::string& dir, const std::string& member);

// Free bytes (available to the caller) and total bytes of the volume holding `path`, or
// of the volume of its nearest existing parent folder; -1 when unknown.
int64_t freeDiskSpace(const std::string& path);
int64_t totalDiskSpace(const std::string& path);

namespace detail {
// Turns the folder name index behind resolve() on or off (on by default). Without it every
// lookup of a name in other case lists the folder; tests use this to compare both ways.
void setFolderIndexEnabled(bool enabled);
// Kills the process at step `step` from now (0 = never), as TALLOWMERE_CRASH_STEP does.
void setCrashStep(long step);
// Calls `hook` at every crashPoint() (nullptr: none); the crash tests count steps with it.
void setCrashHook(void (*hook)());
}  // namespace detail

}  // namespace fsx
