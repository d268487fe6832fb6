#pragma once
// Memory for large blocks that are written whole right away (a member extracted into
// memory).

#include <cstddef>
#include <string>

// Sizes `out` to `size` bytes (zeroed), for data about to be written over it. A large block
// asks the system for huge pages first, where it offers them, so that filling it costs a
// few page faults instead of one per small page: a 20 MB mission file takes 10 instead of
// 5,000, which on a virtual machine is most of the time its extraction takes.
void resizeForWrite(std::string& out, size_t size);
// The same without the resize: room for `size` bytes about to be appended to an empty `out`.
void reserveForWrite(std::string& out, size_t size);
