#pragma once
// Reads the version resource of an executable file and hands out its text entries.
//
// On Windows the system's version functions do the reading. Elsewhere the resource is
// taken out of a PE image directly (resource section, RT_VERSION, the VS_VERSIONINFO
// tree); the program's own file, which is no PE image there, answers with the values of
// this build.

#include <cstdint>
#include <string>
#include <vector>

// The fixed-information block of a version resource (VS_FIXEDFILEINFO, 52 bytes).
struct TFixedFileInfo {
    uint32_t dwSignature = 0;  // 0xFEEF04BD
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};
static_assert(sizeof(TFixedFileInfo) == 52);

inline constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;

// Text entries by number.
enum : int {
    viComments = 0,
    viCompanyName = 1,
    viFileDescription = 2,
    viFileVersion = 3,
    viInternalName = 4,
    viLegalCopyright = 5,
    viLegalTrademarks = 6,
    viOriginalFileName = 7,
    viPrivateBuild = 8,
    viProductName = 9,
    viProductVersion = 10,
    viSpecialBuild = 11,
};
inline constexpr int kVersionEntryCount = 12;

// Key of entry `n` (0..11), nullptr for other numbers.
const char* VersionEntryKey(int n);

class TFileVersionInfo {
  public:
    // Reads the resource of `fileName` (empty: the running program's own file).
    explicit TFileVersionInfo(const std::string& fileName = std::string());

    const std::string& FileName() const { return fileName_; }
    // Stores the name and reads that file's resource (the program's own when empty).
    void SetFileName(const std::string& fileName);

    // The resource was read.
    bool Valid() const { return valid_; }
    // The entry's text (UTF-8) from the string table of the resource's first language;
    // empty for a number outside 0..11, without a valid resource, or when missing.
    std::string Entry(int n) const;

    const TFixedFileInfo& FixedInfo() const { return fixed_; }
    // The two halves of the first entry of the translation list (0 when there is none).
    uint16_t Language() const { return language_; }
    uint16_t CodePage() const { return codePage_; }
    bool HasTranslation() const { return hasTranslation_; }
    // The whole version resource as read.
    const std::vector<uint8_t>& Buffer() const { return buffer_; }

  private:
    void read();

    std::string fileName_;
    bool valid_ = false;
    std::vector<uint8_t> buffer_;
    TFixedFileInfo fixed_;
    uint16_t language_ = 0;
    uint16_t codePage_ = 0;
    bool hasTranslation_ = false;
};

// The version information of the running program, read once on first use.
TFileVersionInfo& ProgramVersionInfo();

namespace versioninfo {

// A value found in a version resource by a query path.
struct QueryValue {
    bool found = false;
    bool text = false;           // wType 1: UTF-16 text
    std::vector<uint8_t> bytes;  // binary value, or the UTF-16 text without its terminator
};

// Looks `path` up in a VS_VERSIONINFO buffer the way the system's query does: "\" is the
// root's value (the fixed information), "\StringFileInfo\<table>\<key>" a string,
// "\VarFileInfo\Translation" the translation list. Keys match without regard to case.
// Every length in the buffer is checked; a damaged tree finds nothing.
QueryValue Query(const std::vector<uint8_t>& buffer, const std::string& path);

// The VS_VERSIONINFO resource of a PE image, or empty when it has none (or the file is
// not a PE image, is damaged or cannot be read).
std::vector<uint8_t> ReadPeVersionResource(const std::string& path);

// UTF-16LE code units to UTF-8, up to the first zero unit; bad surrogates become U+FFFD.
std::string Utf16ToUtf8(const uint8_t* data, size_t units);

// The version resource describing this build (used for the program's own file where it is
// no PE image).
std::vector<uint8_t> BuildVersionResource();

}  // namespace versioninfo
