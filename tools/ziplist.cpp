// ziplist: lists ZIP archives the way the archive component reads them, in a stable text
// form, unattended (no message boxes). Every message the component reports is printed.
//
//   ziplist [--dir-entries] [--codepage=auto|none|oem] ARCHIVE...
//
// Exit status: 0 when every archive listed without an error, 1 when one failed or does
// not exist, 2 on a usage error.

#include <cstdio>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"

namespace {

// Control bytes, "<" and ">" shown as <XX> so that every record stays on one line.
std::string printable(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '<' || c == '>') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void usage() {
    std::fprintf(stderr, "usage: ziplist [--dir-entries] [--codepage=auto|none|oem] ARCHIVE...\n");
}

}  // namespace

int main(int argc, char** argv) {
    TZipArchiver zip;
    zip.Unattended = true;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dir-entries") {
            zip.UseDirOnlyEntries = true;
        } else if (a == "--codepage=auto") {
            zip.CodePage = CodePageOpts::cpAuto;
        } else if (a == "--codepage=none") {
            zip.CodePage = CodePageOpts::cpNone;
        } else if (a == "--codepage=oem") {
            zip.CodePage = CodePageOpts::cpOEM;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "--") {
            usage();
            return 2;
        } else if (a != "--") {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        usage();
        return 2;
    }

    int status = 0;
    std::vector<std::pair<int, std::string>> messages;
    zip.OnMessage = [&messages](TZipArchiver* sender, int, const std::string& text) {
        messages.emplace_back(sender->ErrCode, text);
    };
    zip.OnNewName = [](TZipArchiver*, int seqNo, const ZipDirEntry& e) {
        std::printf(
            "entry %d: FileName=%s CompressedSize=%u UncompressedSize=%u CRC32=%08X "
            "DateTime=0x%08X HostSystem=%u MadeByVersion=%u CompressionMethod=%u Flag=0x%04X "
            "Encrypted=%d",
            seqNo, printable(e.FileName).c_str(), e.CompressedSize, e.UncompressedSize, e.CRC32,
            e.DateTime, e.HostSystem, e.MadeByVersion, e.CompressionMethod, e.Flag,
            e.Encrypted ? 1 : 0);
        if (e.CompressedSize64 != e.CompressedSize || e.UncompressedSize64 != e.UncompressedSize)
            std::printf(" CompressedSize64=%llu UncompressedSize64=%llu",
                        static_cast<unsigned long long>(e.CompressedSize64),
                        static_cast<unsigned long long>(e.UncompressedSize64));
        if (!e.FileComment.empty())
            std::printf(" FileComment=%s", printable(e.FileComment).c_str());
        std::printf("\n");
    };

    for (const std::string& file : files) {
        messages.clear();
        std::printf("archive: %s\n", printable(file).c_str());
        zip.SetZipFileName(file);
        std::printf("Count: %d\n", zip.Count());
        std::printf("DirOnlyCount: %d\n", zip.DirOnlyCount());
        std::printf("SFXOffset: %lld\n", static_cast<long long>(zip.SFXOffset()));
        std::printf("CentralDirOffset: %lld\n", static_cast<long long>(zip.CentralDirOffset()));
        std::printf("ZipEnd: %lld\n", static_cast<long long>(zip.ZipEnd()));
        std::printf("ArchiveComment: %s\n", printable(zip.ArchiveComment()).c_str());
        std::printf("LastDisk: %d\n", zip.LastDisk());
        std::printf("IsSpanned: %d\n", zip.IsSpanned() ? 1 : 0);
        for (const auto& [id, text] : messages)
            std::printf("message %d: %s\n", id, printable(text).c_str());
        if (zip.ZipFileName().empty()) status = 1;
        // The component lists a missing file silently (an Add would create it); here it is
        // an error.
        if (!fsx::fileExists(file)) {
            std::printf("missing: no such file\n");
            status = 1;
        }
    }
    return status;
}
