#include "platform/AppPaths.h"

#include <cstdlib>

#include "platform/FileSystem.h"

#ifdef _WIN32
#include <io.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace apppaths {

namespace {

constexpr const char* kEngineNames[] = {"ZIPENG.DLL", "UNZENG.DLL"};

std::string withSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != fsx::kPathDelim) dir += fsx::kPathDelim;
    return dir;
}

// The folder above `dir` (which ends in the separator), ending in the separator.
std::string parentDir(const std::string& dir) {
    const size_t sep =
        dir.size() < 2 ? std::string::npos : dir.find_last_of(fsx::kPathDelim, dir.size() - 2);
    return sep == std::string::npos ? dir + ".." + fsx::kPathDelim : dir.substr(0, sep + 1);
}

// <prefix>/<area>/tallowmere/ for an executable in <prefix>/bin/.
std::string installedDir(const std::string& exeDir, const char* area) {
    return parentDir(exeDir) + area + fsx::kPathDelim + kFolderName + fsx::kPathDelim;
}

std::string installedShareDir(const std::string& exeDir) {
    return installedDir(exeDir, "share");
}

std::string installedLibDir(const std::string& exeDir) {
    return installedDir(exeDir, "lib");
}

bool isWritableDir(const std::string& dir) {
#ifdef _WIN32
    return _access(dir.c_str(), 2) == 0;
#else
    return ::access(dir.c_str(), W_OK) == 0;
#endif
}

std::string homeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return withSeparator(home);
#ifndef _WIN32
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return withSeparator(pw->pw_dir);
#endif
    return std::string();
}

// A base directory from the environment; a relative one is not valid and is ignored.
std::string baseDir(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return withSeparator(value);
    const std::string home = homeDir();
    return home.empty() ? std::string() : home + fallbackUnderHome + fsx::kPathDelim;
}

std::string userDir(const char* variable, const char* fallbackUnderHome) {
    std::string base = baseDir(variable, fallbackUnderHome);
    return base.empty() ? base : base + kFolderName + fsx::kPathDelim;
}

}  // namespace

bool isInstalled(const std::string& exeDir) {
    return !fsx::fileExists(exeDir + kLanguageName) &&
           fsx::fileExists(installedShareDir(exeDir) + kLanguageName);
}

std::string settingsDir(const std::string& exeDir) {
#ifdef _WIN32
    return exeDir;
#else
    if (fsx::fileExists(exeDir + kSettingsName)) return exeDir;
    if (isWritableDir(exeDir) && !isInstalled(exeDir)) return exeDir;
    const std::string dir = userDir("XDG_CONFIG_HOME", ".config");
    return dir.empty() ? exeDir : dir;
#endif
}

std::string settingsFile(const std::string& exeDir) {
    return settingsDir(exeDir) + kSettingsName;
}

std::string languageFile(const std::string& exeDir) {
    const std::string installed = installedShareDir(exeDir) + kLanguageName;
    if (!fsx::fileExists(exeDir + kLanguageName) && fsx::fileExists(installed)) return installed;
    return exeDir + kLanguageName;
}

std::string libraryDir(const std::string& exeDir) {
    bool beside = fsx::fileExists(exeDir + kPluginName);
    for (const char* engine : kEngineNames) beside = beside || fsx::fileExists(exeDir + engine);
    if (beside) return exeDir;
    const std::string installed = installedLibDir(exeDir);
    return fsx::directoryExists(installed) ? installed : exeDir;
}

std::string cacheDir() {
#ifdef _WIN32
    const char* local = std::getenv("LOCALAPPDATA");
    return local && *local ? withSeparator(local) + kFolderName + fsx::kPathDelim : std::string();
#else
    return userDir("XDG_CACHE_HOME", ".cache");
#endif
}

}  // namespace apppaths
