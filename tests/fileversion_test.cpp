// The version-information reader: PE images with version resources (support/PeImage.h),
// files without one, damaged files, and the program's own values.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/FileVersionInfo.h"
#include "support/PeImage.h"
#include "support/TestSupport.h"

namespace {

using namespace peimage;

Bytes germanResource() {
    return versionResource(
        {table(u"040704e4", {str(u"CompanyName", u"Garrett & Söhne"),
                             str(u"FileDescription", u"Dieb"), str(u"FileVersion", u"2.3.4.5"),
                             str(u"LegalCopyright", u"© 1998 Looking Glass \U0001F56F"),
                             str(u"ProductName", u"Thief"), str(u"ProductVersion", u"1.33")})},
        {{0x0407, 0x04E4}});
}

}  // namespace

TEST(FileVersionInfo, ReadsEntriesOfAPeImage) {
    TempDir t;
    for (bool pe64 : {false, true}) {
        PeOptions o;
        o.pe64 = pe64;
        std::string path = t.write(pe64 ? "thief64.exe" : "thief.exe", peFile(germanResource(), o));
        TFileVersionInfo info(path);
        ASSERT_TRUE(info.Valid()) << pe64;
        EXPECT_EQ(info.Entry(viCompanyName), "Garrett & S\xC3\xB6hne");
        EXPECT_EQ(info.Entry(viFileDescription), "Dieb");
        EXPECT_EQ(info.Entry(viFileVersion), "2.3.4.5");
        EXPECT_EQ(info.Entry(viLegalCopyright),
                  "\xC2\xA9 1998 Looking Glass \xF0\x9F\x95\xAF");  // surrogate pair joined
        EXPECT_EQ(info.Entry(viProductName), "Thief");
        EXPECT_EQ(info.Entry(viProductVersion), "1.33");
        EXPECT_EQ(info.Entry(viComments), "");  // not in the table
        EXPECT_EQ(info.Entry(viSpecialBuild), "");
        EXPECT_EQ(info.Entry(-1), "");
        EXPECT_EQ(info.Entry(12), "");
        EXPECT_EQ(info.Language(), 0x0407);
        EXPECT_EQ(info.CodePage(), 0x04E4);
        EXPECT_EQ(info.FixedInfo().dwSignature, kFixedInfoSignature);
        EXPECT_EQ(info.FixedInfo().dwFileVersionMS, 0x00020003u);
        EXPECT_EQ(info.FixedInfo().dwProductVersionLS, 0x00080009u);
        EXPECT_EQ(info.FixedInfo().dwFileOS, 0x40004u);
        EXPECT_EQ(info.FixedInfo().dwFileType, 1u);
        EXPECT_EQ(info.FileName(), path);
    }
    // The file is found without regard to case.
    TFileVersionInfo other(t.path() + "THIEF.EXE");
    EXPECT_EQ(other.Entry(viProductName), "Thief");
}

TEST(FileVersionInfo, FirstTranslationChoosesTheTable) {
    TempDir t;
    Bytes res = versionResource(
        {table(u"040904B0", {str(u"ProductName", u"English")}),
         table(u"040c04e4", {str(u"productname", u"Fran\u00e7ais"), str(u"Comments", u"")})},
        {{0x040C, 0x04E4}, {0x0409, 0x04B0}});
    TFileVersionInfo info(t.write("fr.exe", peFile(res)));
    EXPECT_EQ(info.Entry(viProductName),
              "Fran\xC3\xA7"
              "ais");  // keys without regard to case
    EXPECT_EQ(info.Entry(viComments), "");

    // Without a translation list the resource is read but no entry is found.
    info.SetFileName(
        t.write("none.exe",
                peFile(versionResource({table(u"00000000", {str(u"ProductName", u"X")})}, {}))));
    EXPECT_TRUE(info.Valid());
    EXPECT_FALSE(info.HasTranslation());
    EXPECT_EQ(info.Entry(viProductName), "");
}

TEST(FileVersionInfo, ResourceCompilerVariants) {
    TempDir t;
    // wValueLength counted in bytes instead of characters, and zero for an empty value.
    VNode bytesCounted = str(u"ProductName", u"Thief Gold");
    bytesCounted.valueLength = int(bytesCounted.value.size());
    VNode empty = str(u"Comments", u"junk");
    empty.valueLength = 0;
    // A resource other than number 1 is taken when it is the only one.
    PeOptions o;
    o.resourceId = 7;
    TFileVersionInfo info(t.write(
        "gold.exe", peFile(versionResource({table(u"040904b0", {bytesCounted, empty,
                                                                str(u"ProductVersion", u"1")})},
                                           {{0x0409, 0x04B0}}),
                           o)));
    EXPECT_EQ(info.Entry(viProductName), "Thief Gold");
    EXPECT_EQ(info.Entry(viComments), "");
    EXPECT_EQ(info.Entry(viProductVersion), "1");
}

TEST(FileVersionInfo, FilesWithoutResourceLeaveEverythingEmpty) {
    TempDir t;
    PeOptions icons;
    icons.resourceType = 3;  // RT_ICON only
    PeOptions noDir;
    noDir.withResourceDir = false;
    const std::vector<std::string> files = {
        t.write("icons.exe", peFile(germanResource(), icons)),
        t.write("nodir.exe", peFile(germanResource(), noDir)),
        t.write("readme.txt", "Just text, no program."),
        t.write("empty.exe", ""),
        t.path() + "missing.exe",
        t.path(),  // a directory
    };
    TFileVersionInfo info(t.write("good.exe", peFile(germanResource())));
    ASSERT_TRUE(info.Valid());
    for (const std::string& f : files) {
        // Reading again drops whatever the previous file gave.
        info.SetFileName(f);
        EXPECT_FALSE(info.Valid()) << f;
        EXPECT_TRUE(info.Buffer().empty()) << f;
        EXPECT_EQ(info.FixedInfo().dwSignature, 0u) << f;
        EXPECT_EQ(info.Language(), 0) << f;
        for (int n = 0; n < kVersionEntryCount; ++n) EXPECT_EQ(info.Entry(n), "") << f << n;
        info.SetFileName(t.path() + "good.exe");
        EXPECT_TRUE(info.Valid());
    }
}

TEST(FileVersionInfo, DamagedFilesAreSafe) {
    TempDir t;
    const Bytes good = peFile(germanResource());
    const std::string path = t.path() + "bad.exe";
    TFileVersionInfo info;

    // Every truncation of the file.
    for (size_t n = 0; n < good.size(); n += 3) {
        writeFile(path, good.substr(0, n));
        info.SetFileName(path);
        if (info.Valid()) {
            for (int e = 0; e < kVersionEntryCount; ++e) info.Entry(e);
        }
    }

    // Hostile values in the headers and directories.
    auto damaged = [&](size_t at, uint32_t v, int width) {
        Bytes b = good;
        if (width == 2)
            set16(b, at, v);
        else
            set32(b, at, v);
        writeFile(path, b);
        info.SetFileName(path);
        for (int e = 0; e < kVersionEntryCount; ++e) info.Entry(e);
        return info;
    };
    EXPECT_FALSE(damaged(0x3C, 0xFFFFFFF0u, 4).Valid());        // PE header beyond the end
    EXPECT_FALSE(damaged(0x86, 0xFFFF, 2).Valid());             // 65535 sections
    EXPECT_FALSE(damaged(0x94, 0xFFFF, 2).Valid());             // oversized optional header
    EXPECT_FALSE(damaged(0x98 + 92, 2, 4).Valid());             // no resource directory slot
    EXPECT_FALSE(damaged(0x98 + 96 + 16, 0x9000, 4).Valid());   // resource RVA in no section
    EXPECT_FALSE(damaged(0x200 + 14, 0xFFFF, 2).Valid());       // entry count past the section
    EXPECT_FALSE(damaged(0x200 + 20, 0x80000000u, 4).Valid());  // type dir points at itself
    EXPECT_FALSE(damaged(0x200 + 0x2C, 0x80000000u | 0x18, 4).Valid());  // loop back a level
    EXPECT_FALSE(damaged(0x200 + 0x44, 0x7FFFFFF0u, 4).Valid());         // data entry far away
    EXPECT_FALSE(damaged(0x200 + 0x48, 0xFFFFFF00u, 4).Valid());         // data RVA in no section
    // The data size beyond the section is cut to what the section holds.
    EXPECT_TRUE(damaged(0x200 + 0x4C, 0xFFFFFFFFu, 4).Valid());
    EXPECT_EQ(info.Entry(viProductName), "Thief");
    // Section raw data beyond the end of the file.
    EXPECT_FALSE(damaged(0x98 + 224 + 20, 0x7FFFFFFFu, 4).Valid());

    // Hostile lengths inside the version tree (at file offset 0x258).
    const size_t res = 0x258;
    EXPECT_FALSE(damaged(res, 0, 2).Valid());      // root length 0
    EXPECT_TRUE(damaged(res, 0xFFFF, 2).Valid());  // root longer than the data
    EXPECT_EQ(info.Entry(viProductName), "Thief");
    Bytes r = germanResource();
    const size_t sfi = 0x5C;  // StringFileInfo node after the 52-byte fixed block
    ASSERT_EQ(Bytes(r.data() + sfi + 6, 4), Bytes("S\0t\0", 4));
    EXPECT_TRUE(damaged(res + sfi, 0, 2).Valid());  // a child of length 0
    EXPECT_EQ(info.Entry(viProductName), "");
    EXPECT_TRUE(damaged(res + sfi, 3, 2).Valid());           // shorter than its header
    EXPECT_TRUE(damaged(res + sfi, 0xFFF0, 2).Valid());      // beyond its parent
    EXPECT_TRUE(damaged(res + sfi + 2, 0xFFFF, 2).Valid());  // value length beyond the node

    // A text without its terminating zero at the very end of the resource.
    VNode open = str(u"ProductName", u"abc");
    open.value.resize(open.value.size() - 2);
    VNode root{u"VS_VERSION_INFO", 0, fixedInfo(), -1, {}};
    Bytes list;
    put16(list, 0x0409);
    put16(list, 0x04B0);
    root.kids.push_back(VNode{u"VarFileInfo", 1, {}, -1, {VNode{u"Translation", 0, list, -1, {}}}});
    root.kids.push_back(VNode{u"StringFileInfo", 1, {}, -1, {table(u"040904b0", {open})}});
    Bytes unterminated;
    root.write(unterminated);
    info.SetFileName(t.write("cut.exe", peFile(unterminated)));
    EXPECT_EQ(info.Entry(viProductName), "abc");

    // Deterministic byte noise over the directories and the tree.
    uint32_t seed = 12345;
    for (int round = 0; round < 400; ++round) {
        Bytes b = good;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1103515245u + 12345u;
            const size_t at = 0x200 + (seed >> 8) % (b.size() - 0x200);
            b[at] = char(seed >> 24);
        }
        writeFile(path, b);
        info.SetFileName(path);
        for (int e = 0; e < kVersionEntryCount; ++e) info.Entry(e);
    }
}

TEST(FileVersionInfo, QueryPaths) {
    const Bytes b = germanResource();
    const std::vector<uint8_t> buf(b.begin(), b.end());
    auto root = versioninfo::Query(buf, "\\");
    ASSERT_TRUE(root.found);
    EXPECT_FALSE(root.text);
    EXPECT_EQ(root.bytes.size(), 52u);
    EXPECT_TRUE(versioninfo::Query(buf, "\\stringfileinfo\\040704E4").found);
    EXPECT_FALSE(versioninfo::Query(buf, "\\StringFileInfo\\040904b0\\ProductName").found);
    EXPECT_FALSE(versioninfo::Query(buf, "\\StringFileInfo\\040704e4\\ProductName\\x").found);
    EXPECT_FALSE(versioninfo::Query({}, "\\").found);
}

TEST(FileVersionInfo, OwnFileGivesTheBuildValues) {
    TFileVersionInfo info;
    EXPECT_EQ(info.FileName(), "");
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.Entry(viProductName), TM_PRODUCT);
    EXPECT_EQ(info.Entry(viProductName), "Tallowmere");
    EXPECT_EQ(info.Entry(viProductVersion), TM_VERSION);
    EXPECT_EQ(info.Entry(viFileVersion), TM_VERSION);
    EXPECT_NE(info.Entry(viLegalCopyright).find("Tallowmere"), std::string::npos);
    EXPECT_NE(info.Entry(viLegalCopyright).find("\xC2\xA9"), std::string::npos);  // ©
    EXPECT_FALSE(info.Entry(viCompanyName).empty());
    EXPECT_FALSE(info.Entry(viFileDescription).empty());
    EXPECT_EQ(info.FixedInfo().dwSignature, kFixedInfoSignature);
    EXPECT_EQ(info.FixedInfo().dwStrucVersion, 0x00010000u);
    EXPECT_EQ(ProgramVersionInfo().Entry(viProductVersion), TM_VERSION);

    // The build's resource holds up in a PE image as any other.
    TempDir t;
    const std::vector<uint8_t> own = versioninfo::BuildVersionResource();
    TFileVersionInfo fromFile(t.write("own.exe", peFile(Bytes(own.begin(), own.end()))));
    for (int n = 0; n < kVersionEntryCount; ++n) EXPECT_EQ(fromFile.Entry(n), info.Entry(n)) << n;
    EXPECT_EQ(fromFile.Language(), 0x0409);
    EXPECT_EQ(fromFile.CodePage(), 0x04B0);
}
