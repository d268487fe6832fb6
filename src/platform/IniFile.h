#pragma once
// INI-format settings file with private-profile semantics:
// - section and key names match without regard to case;
// - a missing key (or section, or file) reads as the caller's default, an empty value as "";
// - values are read up to 1023 characters, blanks around them dropped, and one pair of
//   enclosing double (or single) quotes removed;
// - integers read as signed decimal, or hexadecimal after "0x"/"0X" when the text is longer
//   than two characters; a text that does not convert gives the default;
// - booleans write "1"/"0" and read as integer != 0;
// - writes create the file, section and key as needed, are on disk when they return and
//   are atomic (temporary file beside it, then rename); a failed write throws
//   ESettingsWriteError ("Unable to write to <full path>") and leaves earlier values intact;
// - the key list of a section is in file order, limited as by an 8,192-byte buffer.
// Reads may come from a cache, which is dropped whenever the file on disk has changed
// (another program's edits are seen at the next read). An object is used from one thread
// at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IniFile {
  public:
    explicit IniFile(std::string path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& fileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Removes the section header and all its keys (nothing happens when it is absent).
    void EraseSection(const std::string& section);
    // Key names of the section in file order (empty when the section is absent).
    std::vector<std::string> ReadSection(const std::string& section) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

  private:
    struct Impl;
    std::string path_;
    std::unique_ptr<Impl> impl_;
};
