#pragma once
// Maps member paths onto the target tree below the current directory, matching
// existing folder and file names without regard to case (as the games' own file system
// does under Wine), creating missing folders, and refusing any folder that leads out of
// the target tree through a symbolic link.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tmeng {

// Splits a member name into path components. False when the name must not be written:
// absolute, a drive letter, "..", an embedded NUL or ":" (alternate data streams).
bool splitMemberName(std::string_view name, std::vector<std::string>& parts);

class PathResolver {
  public:
    PathResolver();
    // Resolves the folder made of `parts` (relative to the current directory), creating
    // what is missing when `create` is set. `out` gets the folder path ("" or ending in
    // "/"). False with a reason when the folder cannot be used.
    bool resolveDir(const std::vector<std::string>& parts, bool create, std::string& out,
                    std::string& why);
    // The existing name in `dir` that equals `name` without regard to case, else `name`.
    std::string resolveName(const std::string& dir, const std::string& name);
    // Records a name about to appear in `dir`.
    void claim(const std::string& dir, const std::string& name);

  private:
    using Listing = std::unordered_map<std::string, std::string>;
    Listing& listing(const std::string& dir);
    bool insideBase(const std::string& path);

    std::string baseReal_;
    std::unordered_map<std::string, Listing> listings_;
    std::unordered_map<std::string, std::string> resolved_;  // folded parts -> folder path
};

}  // namespace tmeng
