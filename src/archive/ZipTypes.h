#pragma once
// Types of the archive component: directory entries, option sets, events.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

// A set of enumeration values (bit n = value n).
template <typename E>
class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> values) {
        for (E v : values) bits_ |= bit(v);
    }
    constexpr bool has(E v) const { return (bits_ & bit(v)) != 0; }
    constexpr EnumSet& insert(E v) { bits_ |= bit(v); return *this; }
    constexpr EnumSet& erase(E v) { bits_ &= ~bit(v); return *this; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr uint32_t bits() const { return bits_; }
    constexpr bool operator==(const EnumSet&) const = default;

private:
    static constexpr uint32_t bit(E v) { return 1u << static_cast<uint32_t>(v); }
    uint32_t bits_ = 0;
};

enum class CodePageOpts { cpAuto, cpNone, cpOEM };

enum class AddOptsEnum {
    AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS,
    AddHiddenFiles, AddArchiveOnly, AddResetArchive, AddEncrypt, AddSeparateDirs, AddVolume,
    AddDiskSpan, AddDiskSpanErase
};
using AddOpts = EnumSet<AddOptsEnum>;

enum class ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };
using ExtrOpts = EnumSet<ExtrOptsEnum>;

enum class AddStoreSuffixEnum {
    assGIF, assPNG, assZ, assZIP, assZOO, assARC, assLZH, assARJ, assTAZ, assTGZ, assLHA, assEXE
};
using AddStoreExts = EnumSet<AddStoreSuffixEnum>;

enum class DeleteOpts { htdFinal, htdAllowUndo };
enum class SFXOptsEnum {
    SFXAskCmdLine, SFXAskFiles, SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize, SFXNoSuccessMsg
};
using SFXOpts = EnumSet<SFXOptsEnum>;
enum class OvrOpts { OvrConfirm, OvrAlways, OvrNever };

enum ProgressType { progNewFile = 0, progAdvance = 1, progEndOfBatch = 2, progTotalFiles = 3,
                    progTotalSize = 4 };

// One listed member. The first sixteen fields copy bytes 4 to 45 of its central header.
struct ZipDirEntry {
    uint8_t MadeByVersion = 0;
    uint8_t HostSystem = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flag = 0;
    uint16_t CompressionMethod = 0;
    uint32_t DateTime = 0;  // DOS time low 16 bits, DOS date high 16 bits
    uint32_t CRC32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    uint16_t FileCommentLength = 0;
    uint16_t DiskNumberStart = 0;
    uint16_t InternalAttributes = 0;
    uint32_t ExternalAttributes = 0;
    uint32_t LocalHeaderOffset = 0;  // as stored
    std::string FileName;            // converted, "/" turned into "\"
    std::string FileComment;
    bool Encrypted = false;
    // The raw extra field (ExtraFieldLength bytes), empty when there is none.
    std::string ExtraData;
    // The full sizes and offset, from the ZIP64 extra field when the 32-bit ones are
    // 0xFFFFFFFF; otherwise equal to them.
    uint64_t CompressedSize64 = 0;
    uint64_t UncompressedSize64 = 0;
    uint64_t LocalHeaderOffset64 = 0;
};

class TZipArchiver;

using TProgressEvent = std::function<void(TZipArchiver* Sender, ProgressType ProgrType,
                                          const std::string& Filename, int64_t FileSize)>;
using TMessageEvent =
    std::function<void(TZipArchiver* Sender, int ErrCode, const std::string& Message)>;
using TSetNewNameEvent =
    std::function<void(TZipArchiver* Sender, std::string& OldFileName, bool& IsChanged)>;
using TPasswordErrorEvent =
    std::function<void(TZipArchiver* Sender, std::string& NewPassword,
                       const std::string& ForFile, uint32_t& RepeatCount)>;
using TCRC32ErrorEvent =
    std::function<void(TZipArchiver* Sender, const std::string& ForFile, uint32_t FoundCRC,
                       uint32_t ExpectedCRC, bool& DoExtract)>;
using TExtractOverwriteEvent = std::function<void(
    TZipArchiver* Sender, const std::string& ForFile, bool IsOlder, bool& DoOverwrite)>;
using TExtractSkippedEvent = std::function<void(
    TZipArchiver* Sender, const std::string& ForFile, int SkipType, int ExtError)>;
using TFileCommentEvent = std::function<void(TZipArchiver* Sender, const std::string& ForFile,
                                             std::string& FileComment, bool& IsChanged)>;
using TNewNameEvent =
    std::function<void(TZipArchiver* Sender, int SeqNo, const ZipDirEntry& ZipEntry)>;
using TNotifyEvent = std::function<void(TZipArchiver* Sender)>;
using TGetNextDiskEvent = std::function<void(TZipArchiver* Sender, int DiskSeqNo, int DiskTotal,
                                             const std::string& Drive, bool& AbortAction)>;
using TStatusDiskEvent =
    std::function<void(TZipArchiver* Sender, int PreviousDisk, const std::string& PreviousFile,
                       int Status, int& Action)>;
