#pragma once
// TZipArchiver: non-visual archive component. It reads ZIP directories itself (List) and
// drives the two engine libraries for Add and Extract; ExtractToStream extracts one member
// into memory. Failures never escape: they are reported through the message table (shown
// unless Unattended, stored in ErrCode/Message, passed to OnMessage).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipMessages.h"
#include "archive/ZipTypes.h"
#include "base/EngineAbi.h"

// A memory stream that can also read an outside block without owning it.
class TZipStream {
  public:
    TZipStream() = default;
    TZipStream(const TZipStream&) = delete;
    TZipStream& operator=(const TZipStream&) = delete;

    // Use an outside block of `size` bytes without copying it and without owning it.
    void SetPointer(void* memory, int64_t size);
    // Resizes the owned block (content undefined past the old size, and not cleared:
    // memory is only committed as it is written); position kept in range.
    void SetSize(int64_t size);
    void Clear();  // size 0, position 0

    int64_t Size() const { return size_; }
    int64_t Position() const { return position_; }
    void SetPosition(int64_t pos);
    int64_t Read(void* buffer, int64_t count);
    char* Memory() { return data_; }
    const char* Memory() const { return data_; }
    // The whole content split into lines (CR LF, LF or CR end a line), as a string list
    // loaded from the stream.
    std::vector<std::string> Lines() const;

  private:
    std::unique_ptr<char[]> owned_;
    char* data_ = nullptr;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

class TZipArchiver {
  public:
    TZipArchiver();
    ~TZipArchiver();
    TZipArchiver(const TZipArchiver&) = delete;
    TZipArchiver& operator=(const TZipArchiver&) = delete;

    // --- Directory reader -------------------------------------------------------------
    const std::string& ZipFileName() const { return zipFileName_; }
    void SetZipFileName(const std::string& name);  // runs List

    void List();

    const std::vector<ZipDirEntry>& Entries() const { return entries_; }
    int Count() const { return zipFileName_.empty() ? 0 : static_cast<int>(entries_.size()); }
    const std::string& ArchiveComment() const { return archiveComment_; }
    int64_t CentralDirOffset() const { return centralDirOffset_; }
    int64_t ZipEnd() const { return zipEnd_; }
    int64_t SFXOffset() const { return sfxOffset_; }
    int LastDisk() const { return lastDisk_; }
    bool IsSpanned() const { return isSpanned_; }
    int DirOnlyCount() const { return dirOnlyCount_; }

    bool UseDirOnlyEntries = false;
    CodePageOpts CodePage = CodePageOpts::cpAuto;
    bool Unattended = false;
    TNewNameEvent OnNewName;
    TNotifyEvent OnDirUpdate;

    // --- Engine interface -------------------------------------------------------------
    // True while an engine call of any component runs (its callbacks may let events run):
    // the engines are loaded for the process, one call at a time, on the main thread.
    static bool EngineBusy();
    std::vector<std::string> FSpecArgs;
    std::vector<std::string> FSpecArgsExcl;
    std::string ExtrBaseDir;
    std::string RootDir;
    std::string TempDir;
    const std::string& DLLDirectory() const { return dllDirectory_; }
    void SetDLLDirectory(const std::string& dir);  // a trailing separator is removed
    AddOpts AddOptions;
    ExtrOpts ExtrOptions;
    int AddCompLevel = 9;
    AddStoreExts AddStoreSuffixes;
    std::string Password;  // at most 255 characters
    int PasswordReqCount() const { return passwordReqCount_; }
    void SetPasswordReqCount(int n);  // above 15 stored as 15
    bool Verbose = false;
    bool Trace = false;

    TProgressEvent OnProgress;
    TMessageEvent OnMessage;
    TSetNewNameEvent OnSetNewName;
    TPasswordErrorEvent OnPasswordError;
    TCRC32ErrorEvent OnCRC32Error;
    TExtractOverwriteEvent OnExtractOverwrite;
    TExtractSkippedEvent OnExtractSkipped;
    TFileCommentEvent OnFileComment;

    void Add();
    void Extract();
    // Extracts one member into MemberStream; returns it, or nullptr when nothing was
    // extracted. An empty name keeps the first entry of FSpecArgs.
    TZipStream* ExtractToStream(const std::string& memberName);
    TZipStream& MemberStream() { return memberStream_; }
    // Extracts one member straight into `out` (no block of the stream's, no copy); false,
    // with `out` empty, when nothing was extracted.
    bool ExtractToString(const std::string& memberName, std::string& out);

    int GetZipEngineVersion();
    int GetUnzipEngineVersion();

    int SuccessCount = 0;
    bool Cancel = false;
    int ErrCode = 0;
    int FullErrCode = 0;
    std::string Message;
    bool ZipBusy() const { return zipBusy_; }
    bool UnzipBusy() const { return unzipBusy_; }

    // --- Spanned sets and self-extractor stubs ----------------------------------------
    int64_t MaxVolumeSize = 0;
    int64_t MinFreeVolumeSize = 65536;
    int64_t KeepFreeOnDisk1 = 0;
    bool ConfirmErase = true;
    DeleteOpts HowToDelete = DeleteOpts::htdAllowUndo;
    std::string SFXPath = "ZipSFX.bin";
    std::string SFXCaption = "Self-extracting Archive";
    std::string SFXDefaultDir, SFXCommandLine, SFXMessage;
    SFXOpts SFXOptions{SFXOptsEnum::SFXCheckSize};
    OvrOpts SFXOverWriteMode = OvrOpts::OvrConfirm;
    // Icon file (22-byte header and one 744-byte image) put into the stub; empty: none.
    std::string SFXIcon;
    TGetNextDiskEvent OnGetNextDisk;
    TStatusDiskEvent OnStatusDisk;

    // --- Messages ---------------------------------------------------------------------
    void ReportMessage(int id, const std::string& extra = std::string());
    void ReportException(const EZipArchiver& e);
    std::string AskAddPassword();
    std::string AskExtractPassword();

    // The callback the engines call (public for the engine records; not for callers).
    static int32_t TM_ENGINE_CALL EngineCallbackEntry(engine::EngineCallbackRecord* record);

  private:
    friend class ZipArchiverTestAccess;

    // Directory reader internals.
    struct EocdInfo;
    bool LocateEOCD(bool raising, EocdInfo& out);
    bool OpenForList(const std::string& resolved);
    int64_t CentralDirectoryStart(const EocdInfo& eocd);
    std::string ConvertOemName(const std::string& s, uint16_t flags, uint8_t hostSystem,
                               uint8_t specVersion) const;
    bool DriveCheck();
    // The archive file (or the part of a spanned set) being read.
    bool OpenInput(const std::string& path);
    void CloseInput();
    // Opens part `disk` (0-based) of a spanned set for reading; raises 11001 when missing.
    void OpenPart(int disk);
    // Walks the central headers from the current position; returns the lowest local header
    // offset seen, starting from `lowest`.
    uint64_t ReadCentralDirectory(const EocdInfo& eocd, uint64_t lowest);

    // Engine internals.
    int32_t HandleCallback(engine::EngineCallbackRecord& record);
    void RunExtract(bool streamRequest);
    const ZipDirEntry* StreamMember(const std::string& archive);
    int32_t CallZipEngine(int version, const std::string& archive);
    int32_t CallUnzipEngine(int version, const std::string& archive, const ZipDirEntry* member);
    // The most bytes `member` can give when extracted: what its data, as far as the
    // archive holds it, can expand to.
    uint64_t ProducibleSize(const ZipDirEntry& member, const std::string& archive) const;
    // Spanned-set branches (joining for Extract, writing for Add, stub for .EXE).
    bool JoinSpannedSet(std::string& tempArchive);
    bool WriteSpannedSet(const std::string& tempArchive);
    int WriteSFXStub(const std::string& archive);

    std::string zipFileName_;
    std::vector<ZipDirEntry> entries_;
    std::string archiveComment_;
    int64_t centralDirOffset_ = 0;
    int64_t zipEnd_ = 0;
    int64_t sfxOffset_ = 0;
    int64_t fileLength_ = 0;
    uint64_t centralStoredOffset_ = 0;  // the central directory's offset as the EOCD says
    int lastDisk_ = 0;
    bool isSpanned_ = false;
    int dirOnlyCount_ = 0;
    std::string driveRoot_;
    std::string volumeLabel_;
    uint32_t volumeSerial_ = 0;
    int64_t diskTotal_ = -1;
    int64_t diskFree_ = -1;
    std::FILE* inFile_ = nullptr;
    std::string inFileName_;  // the archive as opened (resolved path)
    int currentDisk_ = 0;     // number of the part currently open
    int volumeNumber_ = 0;    // from a "PKBACK# nnn" volume label
    bool firstPartMarker_ = false;
    bool structureWarning_ = false;

    std::string dllDirectory_;
    int passwordReqCount_ = 1;
    bool zipBusy_ = false;
    bool unzipBusy_ = false;
    int64_t totalSize_ = 0;
    TZipStream memberStream_;
    std::string* streamTarget_ = nullptr;  // ExtractToString's string, while it runs

    // --- Engine loading, requests and callbacks (ZipEngine.cpp, UnzipEngine.cpp,
    // ZipCallback.cpp, ZipSpan.cpp) ---------------------------------------------------
    enum EngineId { kZipEngineId = 0, kUnzipEngineId = 1 };
    // Loads the engine into its process-wide slot, reporting 10601-10604 / 10701-10704;
    // true when it is usable.
    bool LoadEngine(int id);
    static bool EngineLoaded(int id);
    static void UnloadEngine(int id);
    static void* EngineExecAddress(int id);
    static int EngineVersionOf(int id);
    // Runs an engine's exec function; a failure raised inside a callback stops the engine
    // and is rethrown here as EZipArchiver with `failureId`.
    int32_t CallEngine(int id, void* params, int failureId);
    // A unique new archive name ("zip" prefix, ".zip") in TempDir or the system's
    // temporary directory; empty when none could be made.
    std::string MakeTempArchiveName();
    bool callbackFailed_ = false;

    // --- Spanned sets and self-extractor stubs (ZipSpan.cpp) ----------------------------
    // Joins the set ZipFileName belongs to into `output`; 0, or -7/-8/-9 on failure (the
    // output is then deleted).
    int ReadSpan(const std::string& output);
    // Writes the built archive `source` as numbered parts beside ZipFileName.
    int WriteSpan(const std::string& source);
    // Their steps.
    class SpanJoin;
    class SpanSplit;
};
