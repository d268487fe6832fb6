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
    // Removes the key from the section (nothing happens when it is absent).
    void DeleteKey(const std::string& section, const std::string& key);
    // Key names of the section in file order (empty when the section is absent).
    std::vector<std::string> ReadSection(const std::string& section) const;

    // Writes between BeginBatch and the matching EndBatch change only the cached contents
    // (reads see them at once) and reach the disk together, in one atomic write, at
    // EndBatch, which throws ESettingsWriteError when that write fails. Meant for many
    // writes of values that are a cache (a catalogue scan's mission types).
    void BeginBatch();
    void EndBatch();
    bool SectionExists(const std::string& section) const;
    // Section names in file order (each once, as first written).
    std::vector<std::string> Sections() const;
    bool ValueExists(const std::string& section, const std::string& key) const;

  private:
    friend class IniBatch;
    struct Impl;
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// A batch for the life of the object: its end stores the batch's writes. An error then is
// thrown from Commit(); the destructor of a batch not committed stores what it can and
// swallows errors (it runs while another error unwinds the stack).
class IniBatch {
  public:
    explicit IniBatch(IniFile& ini) : ini_(ini) { ini_.BeginBatch(); }
    ~IniBatch() {
        if (open_) {
            try {
                ini_.EndBatch();
            } catch (...) {
            }
        }
    }
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;
    void Commit() {
        open_ = false;
        ini_.EndBatch();
    }

  private:
    IniFile& ini_;
    bool open_ = true;
};
