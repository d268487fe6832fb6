#pragma once
// Checksum text of a file: "$" and eight lower-case hexadecimal digits of its CRC-32.

#include <cstdint>
#include <string>

// "$" + eight lower-case hexadecimal digits, zero-padded.
std::string HexText(uint32_t value);
// CRC-32 (the ZIP/zlib one) over the whole file as checksum text. A file that cannot be
// opened gives "$00000000"; a read error after opening throws EInOutError.
std::string ChecksumText(const std::string& path);
