#pragma once
// Pieces shared by the compression and the extraction engine: positional file access, the ZIP
// directory reader, name matching, DOS times, the traditional PKWARE cipher and the callback
// wrapper.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/EngineAbi.h"
#include "base/ZipFormat.h"

namespace tmeng {

// The ZIP format's readers, writers and signatures, as the engines name them.
using zipfmt::append16;
using zipfmt::append32;
using zipfmt::append64;
using zipfmt::kSigCentral;
using zipfmt::kSigDescriptor;
using zipfmt::kSigEnd;
using zipfmt::kSigEnd64;
using zipfmt::kSigLocal;
using zipfmt::kSigLocator64;
using zipfmt::load16;
using zipfmt::load32;
using zipfmt::load64;

// Error codes handed to the component with cbMessage and cbSkipped.
enum EngineError : int32_t {
    errWarning = 1,       // a member was passed over
    errDamaged = 2,       // damaged archive or member, CRC mismatch
    errSevere = 3,        // the archive cannot be read
    errMemory = 4,        // out of memory
    errNotFound = 11,     // nothing matched
    errDiskFull = 50,     // writing failed
    errAborted = 80,      // the caller asked to stop
    errUnsupported = 81,  // method or encryption not supported
    errPassword = 82,     // no or wrong password
};

// An archive read at explicit offsets; safe to read from several threads. (Files are
// written through base/DurableWrite.h.)
class File {
  public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool openRead(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Reads exactly n bytes at off; false on a short read or an error.
    bool readAt(void* buf, size_t n, uint64_t off) const;
    uint64_t size() const;
    bool close();

  private:
    int fd_ = -1;
};

struct Entry {
    std::string name;   // as stored
    std::string extra;  // central extra field as stored
    std::string comment;
    uint8_t hostSystem = 0;
    uint8_t madeByVersion = 0;
    uint16_t needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t internalAttr = 0;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint32_t externalAttr = 0;
    uint64_t csize = 0;
    uint64_t usize = 0;
    uint64_t offset = 0;  // local header offset as stored (without any prefix)
    uint32_t disk = 0;

    bool encrypted() const { return flags & 1; }
    bool isDir() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
    bool isSymlink() const {
        return hostSystem == 3 && ((externalAttr >> 16) & 0170000) == 0120000;
    }
};

struct Directory {
    std::vector<Entry> entries;
    uint64_t prefix = 0;   // bytes in front of the archive proper (self-extractor stub)
    uint64_t cdStart = 0;  // file offset of the central directory
    uint64_t cdSize = 0;
    std::string comment;
};

// Reads the central directory of an opened archive. Returns "" on success, else a
// message describing why the directory cannot be trusted.
std::string readDirectory(const File& file, Directory& dir);

// Wildcard match of a file spec against a member name: "*" and "?" wildcards, "/" and
// "\" alike, ASCII case ignored; "*.*" matches every name.
bool matchSpec(std::string_view pattern, std::string_view name);

char foldChar(char c);
std::string foldCase(std::string_view s);
// "/" and "\" unified to '/', case folded: for comparing member names.
std::string nameKey(std::string_view s);

bool isValidUtf8(std::string_view s);
bool isAscii(std::string_view s);

// DOS date-time (date high, time low) from and to local time.
std::time_t dosToTime(uint32_t dos);
uint32_t timeToDos(std::time_t t);

// The traditional PKWARE stream cipher.
class ZipCrypto {
  public:
    explicit ZipCrypto(std::string_view password);
    uint8_t decryptByte(uint8_t c) {
        uint8_t p = c ^ streamByte();
        update(p);
        return p;
    }
    void decrypt(uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = decryptByte(p[i]);
    }
    void encrypt(uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            uint8_t t = streamByte();
            update(p[i]);
            p[i] ^= t;
        }
    }

  private:
    uint8_t streamByte() const {
        uint32_t t = (keys_[2] | 2) & 0xFFFF;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void update(uint8_t c);
    uint32_t keys_[3];
    const uint32_t* table_;
};

// Wraps the caller's callback. Every call runs on the thread that runs the engine.
class Callback {
  public:
    Callback(engine::EngineCallback fn, void* caller);
    // Sends one action; false once the callback has asked to stop (then nothing more is
    // sent). arg2 values beyond 32 bits go in arg2Wide.
    bool send(int32_t action, int32_t arg1 = 0, int64_t arg2 = 0, std::string_view text = {});
    void message(int32_t code, std::string_view text) { send(engine::cbMessage, code, 0, text); }
    void skipped(std::string_view name, int32_t type, int32_t code) {
        send(engine::cbSkipped, code, type, name);
    }
    bool stopped() const { return stopped_; }
    engine::EngineCallbackRecord& record() { return rec_; }
    std::string text() const;

  private:
    engine::EngineCallback fn_;
    engine::EngineCallbackRecord rec_{};
    bool stopped_ = false;
};

// Name with "/" turned into "\", as the component shows members.
std::string displayName(std::string_view name);

}  // namespace tmeng
