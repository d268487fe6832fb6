#pragma once
// Text files read and written line by line. Lines read end at CR LF, LF or CR; lines
// written end with CR LF. Failures throw EInOutError naming the file.

#include <string>
#include <vector>

namespace textfile {

// All lines of the file. Throws EInOutError when it cannot be opened or read.
std::vector<std::string> readLines(const std::string& path);

// Creates (or empties) the file and writes the lines, each followed by CR LF.
void writeLines(const std::string& path, const std::vector<std::string>& lines);

// Writes lines one at a time into a file created (or emptied) on construction.
class Writer {
  public:
    explicit Writer(const std::string& path);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    void writeLine(const std::string& line);
    void close();  // flushes; throws EInOutError on failure

  private:
    std::string path_;
    void* file_ = nullptr;  // FILE*
};

}  // namespace textfile
