// Extract, ExtractToStream and the version query of the extraction engine UNZENG.DLL.

#include <QString>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/EngineRecordSupport.h"
#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "platform/LargeBlock.h"
#include "platform/TextUtil.h"

namespace {

using engine_records::flag;
using engine_records::kMaxRecordPassword;
using engine_records::kTrue;
using engine_records::StringPool;
// Engines below 160 get this instead of an empty password when they must not ask.
constexpr size_t kPlaceholderLength = 80;
constexpr char kPlaceholderChar = '#';

// Highest ratio of uncompressed to compressed size deflate can reach (1032:1).
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFull;

// The local header takes at least this much of a member's room.
constexpr uint64_t kLocalHeaderSize = 30;

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

// Member names compare as the archive's directory shows them, without regard to case.
bool sameMemberName(const std::string& a, const std::string& b) {
    if (text::equalsNoCase(a, b)) return true;
    return text::display(a).compare(text::display(b), Qt::CaseInsensitive) == 0;
}

template <typename P>
void fillUnzipCommon(P& p, TZipArchiver& z, StringPool& pool, const std::string& archive,
                     const char* password) {
    const ExtrOpts& o = z.ExtrOptions;
    p.handle = z.Unattended ? nullptr : reinterpret_cast<void*>(1);
    p.caller = &z;
    p.version = engine::kInterfaceVersion;
    p.callback = &TZipArchiver::EngineCallbackEntry;
    p.trace = flag(z.Trace);
    p.password = password;
    p.test = flag(o.has(ExtrOptsEnum::ExtrTest));
    p.reserved40 = kTrue;
    p.verbose = flag(z.Verbose || z.Trace);
    const bool update = o.has(ExtrOptsEnum::ExtrUpdate);
    p.update = flag(update);
    p.freshen = flag(o.has(ExtrOptsEnum::ExtrFreshen) && !update);
    p.directories = flag(o.has(ExtrOptsEnum::ExtrDirNames));
    p.overwrite = flag(o.has(ExtrOptsEnum::ExtrOverWrite));
    p.archive = pool.keep(archive);
}

}  // namespace

uint64_t TZipArchiver::ProducibleSize(const ZipDirEntry& member, const std::string& archive) const {
    // The member's data lies between its local header and the next member or the central
    // directory (stored offsets throughout), and never exceeds the archive file; in a
    // joined spanned set only the joined archive's length is known.
    const uint64_t offset = member.LocalHeaderOffset64;
    const auto length = static_cast<uint64_t>(std::max<int64_t>(0, fsx::fileSize64(archive)));
    uint64_t end = LastDisk() == 0 ? centralStoredOffset_ : length;
    if (LastDisk() == 0) {
        for (const ZipDirEntry& e : Entries())
            if (e.LocalHeaderOffset64 > offset && e.LocalHeaderOffset64 < end)
                end = e.LocalHeaderOffset64;
    }
    if (offset > end || end - offset < kLocalHeaderSize) return 0;
    const uint64_t room =
        std::min({end - offset - kLocalHeaderSize, member.CompressedSize64, length});
    if (member.CompressionMethod == 0) return room;
    return room > kMaxStreamSize ? kMaxStreamSize + 1 : (room + 1) * kMaxDeflateRatio;
}

int TZipArchiver::GetUnzipEngineVersion() {
    if (EngineLoaded(kUnzipEngineId)) return EngineVersionOf(kUnzipEngineId);
    if (!LoadEngine(kUnzipEngineId)) return 0;
    int version = EngineVersionOf(kUnzipEngineId);
    UnloadEngine(kUnzipEngineId);
    return version;
}

void TZipArchiver::Extract() {
    RunExtract(false);
}

TZipStream* TZipArchiver::ExtractToStream(const std::string& memberName) {
    // While an extraction runs the engine may be writing into MemberStream: a nested
    // request must not touch it.
    if (unzipBusy_) return nullptr;
    if (!memberName.empty()) {
        FSpecArgs.clear();
        FSpecArgs.push_back(memberName);
    }
    memberStream_.Clear();
    RunExtract(true);
    if (SuccessCount < 1) {
        memberStream_.Clear();
        return nullptr;
    }
    memberStream_.SetPosition(0);
    return &memberStream_;
}

bool TZipArchiver::ExtractToString(const std::string& memberName, std::string& out) {
    out.clear();
    if (unzipBusy_) return false;
    struct Target {
        TZipArchiver& zip;
        ~Target() {
            zip.streamTarget_ = nullptr;
            zip.memberStream_.Clear();  // it pointed into the string
        }
    } target{*this};
    streamTarget_ = &out;
    if (ExtractToStream(memberName) != nullptr) return true;
    out.clear();
    return false;
}

// The member a stream request names, with the block it goes into sized; null when the
// directory has no such member.
const ZipDirEntry* TZipArchiver::StreamMember(const std::string& archive) {
    const ZipDirEntry* member = nullptr;
    if (!FSpecArgs.empty()) {
        for (const ZipDirEntry& e : Entries()) {
            if (sameMemberName(e.FileName, FSpecArgs.front())) {
                member = &e;
                break;
            }
        }
    }
    if (!member) return nullptr;
    // The size comes from the archive and is not trusted: it must be one the member's
    // data can actually produce.
    const uint64_t size = member->UncompressedSize64;
    if (size > kMaxStreamSize) throw EZipArchiver(10103, true);
    if (size > ProducibleSize(*member, archive)) throw EZipArchiver(10203, true);
    if (streamTarget_ != nullptr) {
        resizeForWrite(*streamTarget_, static_cast<size_t>(size));
        memberStream_.SetPointer(streamTarget_->data(), static_cast<int64_t>(size));
    } else {
        memberStream_.SetSize(static_cast<int64_t>(size));
    }
    return member;
}

// Hands the request to the loaded engine in the record its version takes; the count of
// members it extracted.
int32_t TZipArchiver::CallUnzipEngine(int version, const std::string& archive,
                                      const ZipDirEntry* member) {
    StringPool pool;
    std::string passwordCopy = Password.substr(0, kMaxRecordPassword);
    if (version < 160 && Unattended && AddOptions.has(AddOptsEnum::AddEncrypt) && Password.empty())
        passwordCopy.assign(kPlaceholderLength, kPlaceholderChar);
    const char* password = pool.keep(passwordCopy);
    const int argc = static_cast<int>(FSpecArgs.size());

    if (version < 152) {
        // Older engines take the specs inline, at most 4096 of them.
        if (argc > engine::kLegacySpecSlots) throw EZipArchiver(10501, true);
        auto p = std::make_unique<engine::UnzipParamsLegacy>();
        fillUnzipCommon(*p, *this, pool, archive, password);
        p->argc = argc;
        p->seven = engine::kEndMarker;
        for (int i = 0; i < argc; ++i) p->specs[i] = pool.keep(FSpecArgs[size_t(i)]);
        return CallEngine(kUnzipEngineId, reinterpret_cast<engine::UnzipParams*>(p.get()), 10501);
    }
    auto p = std::make_unique<engine::UnzipParams>();
    fillUnzipCommon(*p, *this, pool, archive, password);
    std::vector<engine::UnzipFileSpec> specs(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) specs[size_t(i)].pattern = pool.keep(FSpecArgs[size_t(i)]);
    p->argc = argc;
    p->fileSpecs = specs.empty() ? nullptr : specs.data();
    if (member) {
        // The member by its directory name, so its case is exactly the stored one.
        specs[0].pattern = pool.keep(member->FileName);
        p->argc = 1;
        p->toMemory = kTrue;
        p->memory = memberStream_.Memory();
        p->memorySize = static_cast<uint32_t>(memberStream_.Size());
    }
    if (version >= 160) p->passwordReqCount = passwordReqCount_;
    p->seven = engine::kEndMarker;
    return CallEngine(kUnzipEngineId, p.get(), 10501);
}

void TZipArchiver::RunExtract(bool streamRequest) {
    SuccessCount = 0;
    const int savedReqCount = passwordReqCount_;
    bool reqCountChanged = false;
    bool busyHere = false;
    bool loadedHere = false;
    std::string tempArchive;  // the joined copy of a spanned set

    auto finish = [&] {
        FSpecArgs.clear();
        if (!tempArchive.empty()) fsx::deleteFile(tempArchive);
        if (reqCountChanged) passwordReqCount_ = savedReqCount;
        if (loadedHere) UnloadEngine(kUnzipEngineId);
        if (busyHere) {
            Cancel = false;
            unzipBusy_ = false;
        }
        if (streamRequest && SuccessCount < 1) memberStream_.Clear();
    };

    try {
        if (ZipFileName().empty() || !fsx::fileExists(ZipFileName())) {
            ReportMessage(10102);
            return finish();
        }
        // A nested Extract started from a handler while the engine runs does nothing.
        if (unzipBusy_) return;

        if (Unattended && Password.empty() && !OnPasswordError) {
            passwordReqCount_ = 0;
            reqCountChanged = true;
            ReportMessage(10502);
        }

        unzipBusy_ = true;
        busyHere = true;
        Cancel = false;
        if (!EngineLoaded(kUnzipEngineId)) {
            if (!LoadEngine(kUnzipEngineId)) return finish();
            loadedHere = true;
        }

        // A full path: the current directory changes below, before the engine opens it.
        std::string archive = absolutePath(fsx::resolve(ZipFileName()));
        if (LastDisk() != 0) {
            if (!JoinSpannedSet(tempArchive)) return finish();  // it leaves no copy behind
            archive = tempArchive;
        }

        // Never into whatever folder happens to be current: a base folder that is not there
        // is made, and one that cannot be made extracts nothing.
        if (!ExtrBaseDir.empty() && !streamRequest) {
            if (!fsx::forceDirectories(ExtrBaseDir) || !fsx::setCurrentDirectory(ExtrBaseDir)) {
                ReportMessage(10401, " " + ExtrBaseDir);
                return finish();
            }
        }

        const int version = EngineVersionOf(kUnzipEngineId);
        if (streamRequest && version < 160) {
            ReportMessage(10503);
            return finish();
        }

        // The member a stream request asks for, and the block it goes into. A name that is
        // not in the directory ends the request: it is never turned into an extraction
        // onto the disk.
        const ZipDirEntry* member = streamRequest ? StreamMember(archive) : nullptr;
        if (streamRequest && !member) return finish();

        try {
            SuccessCount = CallUnzipEngine(version, archive, member);
        } catch (...) {
            SuccessCount = 0;
            ReportMessage(10501);
        }
    } catch (const EZipArchiver& e) {
        SuccessCount = 0;
        ReportException(e);
    } catch (const std::bad_alloc&) {
        SuccessCount = 0;
        ReportMessage(10103);
    }
    finish();
}
