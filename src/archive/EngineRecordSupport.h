#pragma once
// Helpers for building the engines' parameter records, shared by Add and Extract.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace engine_records {

// Booleans in the records: -1 true, 0 false.
constexpr int32_t kTrue = -1;
inline int32_t flag(bool b) {
    return b ? kTrue : 0;
}

// A password copied into a record holds at most this many characters.
constexpr size_t kMaxRecordPassword = 81;

// Strings handed to an engine; they live until the request has returned.
class StringPool {
  public:
    const char* keep(std::string s) {
        strings_.push_back(std::move(s));
        return strings_.back().c_str();
    }

  private:
    std::deque<std::string> strings_;
};

}  // namespace engine_records
