// The durable write: a unique temporary name beside the target, nothing left behind when
// it fails, and a link in the target's place replaced rather than written through.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "base/DurableWrite.h"

namespace fs = std::filesystem;

namespace {

class DurableWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tm-durable-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::set<std::string> names() const {
        std::set<std::string> r;
        for (const auto& e : fs::directory_iterator(dir_)) r.insert(e.path().filename().string());
        return r;
    }

    fs::path dir_;
};

TEST_F(DurableWrite, TemporaryNamesAreUniqueAndFollowTheRule) {
    durable::DurableFile first, second;
    ASSERT_TRUE(first.open(path("target.ini")));
    ASSERT_TRUE(second.open(path("target.ini")));
    EXPECT_NE(first.temporaryName(), second.temporaryName());
    const std::string leaf = fs::path(first.temporaryName()).filename().string();
    EXPECT_EQ(leaf.rfind("target.ini.tm", 0), 0u) << leaf;
    EXPECT_EQ(leaf.size(), std::string("target.ini").size() + 3 + 12 + 4) << leaf;
    first.discard();
    second.discard();
    EXPECT_TRUE(names().empty());
}

TEST_F(DurableWrite, ReplacesWholeOrLeavesNothingBehind) {
    struct Case {
        const char* what;
        bool existingTarget;
        bool noReplace;
        bool commits;
    };
    const Case cases[] = {
        {"new file", false, false, true},
        {"replaced file", true, false, true},
        {"refused replacement", true, true, false},
        {"new file, no replacement asked", false, true, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        if (c.existingTarget) std::ofstream(path("t")) << "old";
        durable::Options options;
        options.noReplace = c.noReplace;
        EXPECT_EQ(durable::durableWrite(path("t"), "new", options), c.commits) << c.what;
        EXPECT_EQ(read(path("t")), c.commits ? "new" : "old") << c.what;
        EXPECT_EQ(names(), std::set<std::string>{"t"}) << c.what;
    }

    // A discarded replacement leaves the target and no temporary file.
    std::ofstream(path("t")) << "old";
    {
        durable::DurableFile file;
        ASSERT_TRUE(file.open(path("t")));
        ASSERT_TRUE(file.write("half"));
    }
    EXPECT_EQ(read(path("t")), "old");
    EXPECT_EQ(names(), std::set<std::string>{"t"});

    // A folder that does not exist: nothing is made.
    EXPECT_FALSE(durable::durableWrite(path("missing/t"), "new"));
}

TEST_F(DurableWrite, LinkIsReplacedNotFollowedUnlessAsked) {
    std::ofstream(path("real")) << "real";
    ::chmod(path("real").c_str(), 0640);
    fs::create_symlink("real", path("link"));

    ASSERT_TRUE(durable::durableWrite(path("link"), "new"));
    EXPECT_FALSE(fs::is_symlink(path("link")));
    EXPECT_EQ(read(path("link")), "new");
    EXPECT_EQ(read(path("real")), "real");

    fs::remove(path("link"));
    fs::create_symlink("real", path("link"));
    durable::Options options;
    options.followLink = true;
    options.keepOwnerAndMode = true;
    ASSERT_TRUE(durable::durableWrite(path("link"), "through", options));
    EXPECT_TRUE(fs::is_symlink(path("link")));
    EXPECT_EQ(read(path("real")), "through");
    struct stat st;
    ASSERT_EQ(::stat(path("real").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
