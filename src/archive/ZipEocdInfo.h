#pragma once
// The end-of-central-directory values the directory reader finds (shared by the reader
// and the spanned-set code).

#include <cstdint>

#include "archive/ZipArchiver.h"

struct TZipArchiver::EocdInfo {
    int64_t position = 0;  // file offset of the 22-byte record
    uint32_t thisDisk = 0;
    uint32_t centralDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t centralSize = 0;
    uint64_t centralOffset = 0;  // as stored
    uint16_t commentLength = 0;
    bool zip64 = false;
    int64_t zip64Position = 0;  // file offset of the ZIP64 end record when zip64
};
