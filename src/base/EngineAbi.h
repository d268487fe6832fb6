#pragma once
// Binary interface between the archive component and its two engine libraries,
// ZIPENG.DLL (compression) and UNZENG.DLL (extraction). Shared by both sides.
//
// Fields keep their order; pointers have the native width. On a 32-bit build the offsets
// are exactly the published ones (checked below). Booleans are 32-bit, -1 true, 0 false.
// Every field not named is reserved and 0.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TM_ENGINE_CALL __stdcall
#else
#define TM_ENGINE_CALL
#endif

#if defined(_WIN32)
#define TM_ENGINE_EXPORT extern "C" __declspec(dllexport)
#else
#define TM_ENGINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace engine {

inline constexpr int32_t kInterfaceVersion = 160;
inline constexpr int32_t kEndMarker = 7;
inline constexpr int kLegacySpecSlots = 4096;

// Callback actions.
enum CallbackAction : int32_t {
    cbNewFile = 1,   // a file begins: text = name, arg2 = its size
    cbProgress = 2,  // arg2 = bytes processed since the last report
    cbEndOfBatch = 3,
    cbMessage = 4,       // arg1 = error code (0 for a plain message), text = message
    cbTotalFiles = 5,    // arg2 = number of files
    cbTotalSize = 6,     // arg2 = bytes to process
    cbNewName = 7,       // text = name of a file being added; out: arg1 = 1 and new name
    cbPassword = 8,      // arg1 bit 0 = adding; arg2 = repeat count; text = file
    cbCrcError = 9,      // arg1 = found CRC, arg2 = expected CRC; out: arg1 = 1/0/2
    cbOverwrite = 10,    // arg1 bit 0 = existing is older; arg2 = default; out: arg2 = 1/0
    cbSkipped = 11,      // arg1 = error code, arg2 low byte = skip type, text = file
    cbFileComment = 12,  // text = file; out: arg1 = changed, arg2 = length, text = comment
};

// Skip types reported with cbSkipped (low byte of arg2).
enum SkipType : int32_t {
    skipOverwrite = 1,    // exists, overwrite not allowed
    skipFreshen = 2,      // not present on disk while freshening
    skipUpdate = 3,       // on disk and newer while updating
    skipPassword = 4,     // no or wrong password
    skipBadName = 5,      // name would land outside the target directory
    skipCrcError = 6,     // CRC mismatch and not kept
    skipUnsupported = 7,  // compression method not supported
    skipDamaged = 8,      // damaged or inconsistent member
    skipWriteError = 9,   // the file could not be written
};

struct EngineCallbackRecord {
    void* handle;        // 0: not read
    void* caller;        // 4: the value of the parameter record's caller field
    int32_t version;     // 8: not read
    int32_t reserved12;  // 12: not read
    int32_t actionCode;  // 16
    int32_t arg1;        // 20: in and out
    int32_t arg2;        // 24: in and out
    char text[512];      // 28: NUL-terminated, in and out
    // Extension beyond the published 540 bytes: the full 64-bit value of arg2 for sizes
    // and totals that do not fit in 32 bits (0 when arg2 is complete).
    int64_t arg2Wide;
};

using EngineCallback = int32_t(TM_ENGINE_CALL*)(EngineCallbackRecord* record);

// --- Compression engine --------------------------------------------------------------

struct ZipFileSpec {
    const char* pattern;     // 0: pattern, prefix and password removed
    int32_t reserved4;       // 4
    int32_t reserved8;       // 8
    const char* password;    // 12: own password, else the record's, else null
    int32_t encrypt;         // 16
    uint16_t recurse;        // 20: 0xFFFF recurse, 0 not
    uint16_t reserved22;     // 22
    int32_t reserved24[3];   // 24
    const char* rootDir;     // 36: null when none
    int32_t reserved40[16];  // 40
};

// Layout for engines 151 and later (216 bytes on a 32-bit build).
struct ZipParams {
    void* handle;               // 0: window handle for the engine's dialogs, 0 = unattended
    void* caller;               // 4
    int32_t version;            // 8: always 160
    EngineCallback callback;    // 12
    int32_t trace;              // 16
    const char* password;       // 20: null when none
    const char* suffixes;       // 24: ".gif:.png:..." or null
    int32_t encrypt;            // 28
    int32_t hiddenFiles;        // 32: include hidden and system files
    int32_t volume;             // 36: volume label
    int32_t reserved40;         // 40: 0
    int32_t noDirEntries;       // 44: no separate directory entries
    int32_t reserved48;         // 48: 0
    int32_t verbose;            // 52
    int32_t quiet;              // 56: -1
    int32_t level;              // 60: compression level
    int32_t reserved64;         // 64
    int32_t reserved68;         // 68: 0
    int32_t junkDirs;           // 72: drop directory names
    int32_t recurse;            // 76: low 16 bits 0xFFFF when recursing
    int32_t reserved80;         // 80: -1
    int32_t forceDos;           // 84
    int32_t move;               // 88: delete sources after adding
    int32_t reserved92;         // 92: 0
    int32_t update;             // 96
    int32_t freshen;            // 100
    int32_t reserved104;        // 104: 0
    int32_t latestTime;         // 108: archive gets the time of its newest member
    int32_t reserved112;        // 112
    int32_t reserved116;        // 116
    int32_t argc;               // 120: number of file specs
    const char* archive;        // 124
    const char* tempDir;        // 128: null when none
    const char* comment;        // 132: engines 160+: archive comment, null when none
    uint16_t archiveOnly;       // 136: engines 160+
    uint16_t resetArchive;      // 138: engines 160+
    ZipFileSpec* fileSpecs;     // 140: one per file spec
    int32_t reserved144;        // 144
    int32_t excludeCount;       // 148: engines 160+
    const char** excludeSpecs;  // 152: engines 160+
    int32_t reserved156[14];    // 156
    int32_t seven;              // 212: end marker 7
};

// Layout for engines below 151 (16520 bytes on a 32-bit build).
struct ZipParamsLegacy {
    void* handle;
    void* caller;
    int32_t version;
    EngineCallback callback;
    int32_t trace;
    const char* password;
    const char* suffixes;
    int32_t encrypt;
    int32_t hiddenFiles;
    int32_t volume;
    int32_t reserved40;
    int32_t noDirEntries;
    int32_t reserved48;
    int32_t verbose;
    int32_t quiet;
    int32_t level;
    int32_t reserved64;
    int32_t reserved68;
    int32_t junkDirs;
    int32_t recurse;
    int32_t reserved80;
    int32_t forceDos;
    int32_t move;
    int32_t reserved92;
    int32_t update;
    int32_t freshen;
    int32_t reserved104;
    int32_t latestTime;
    int32_t reserved112;
    int32_t reserved116;
    int32_t argc;                         // 120
    const char* archive;                  // 124
    int32_t seven;                        // 128: end marker 7
    const char* specs[kLegacySpecSlots];  // 132..16515
    int32_t reserved16516;                // 16516
};

// --- Extraction engine ---------------------------------------------------------------

struct UnzipFileSpec {
    const char* pattern;    // 0
    int32_t reserved4[17];  // 4..71
};

// Layout for engines 152 and later (148 bytes on a 32-bit build).
struct UnzipParams {
    void* handle;              // 0
    void* caller;              // 4
    int32_t version;           // 8: always 160
    EngineCallback callback;   // 12
    int32_t trace;             // 16
    int32_t reserved20;        // 20
    const char* password;      // 24: never null ("" when none)
    int32_t test;              // 28: test only
    int32_t reserved32;        // 32: 0
    int32_t reserved36;        // 36: 0
    int32_t reserved40;        // 40: -1
    int32_t verbose;           // 44
    int32_t update;            // 48
    int32_t freshen;           // 52
    int32_t directories;       // 56: keep directory names
    int32_t overwrite;         // 60
    int32_t argc;              // 64
    const char* archive;       // 68
    UnzipFileSpec* fileSpecs;  // 72
    int32_t reserved76;        // 76
    int32_t toMemory;          // 80: -1 for a stream request
    void* memory;              // 84: block to write into
    uint32_t memorySize;       // 88: its size in bytes
    int32_t reserved92[3];     // 92
    int32_t passwordReqCount;  // 104: engines 160+
    int32_t reserved108[9];    // 108
    int32_t seven;             // 144: end marker 7
};

// Layout for engines below 152 (16464 bytes on a 32-bit build).
struct UnzipParamsLegacy {
    void* handle;
    void* caller;
    int32_t version;
    EngineCallback callback;
    int32_t trace;
    int32_t reserved20;
    const char* password;
    int32_t test;
    int32_t reserved32;
    int32_t reserved36;
    int32_t reserved40;
    int32_t verbose;
    int32_t update;
    int32_t freshen;
    int32_t directories;
    int32_t overwrite;
    int32_t argc;                         // 64
    const char* archive;                  // 68
    int32_t seven;                        // 72: end marker 7
    const char* specs[kLegacySpecSlots];  // 76..16459
    int32_t reserved16460;                // 16460
};

using ZipEngineExecFn = int32_t(TM_ENGINE_CALL*)(ZipParams* params);
using UnzipEngineExecFn = int32_t(TM_ENGINE_CALL*)(UnzipParams* params);
using EngineVersionFn = int32_t(TM_ENGINE_CALL*)();

#if UINTPTR_MAX == 0xFFFFFFFFu
// On a 32-bit build the records are byte for byte the published ones.
static_assert(offsetof(EngineCallbackRecord, actionCode) == 16);
static_assert(offsetof(EngineCallbackRecord, text) == 28);
static_assert(offsetof(ZipFileSpec, password) == 12);
static_assert(offsetof(ZipFileSpec, recurse) == 20);
static_assert(offsetof(ZipFileSpec, rootDir) == 36);
static_assert(sizeof(ZipFileSpec) == 104);
static_assert(offsetof(ZipParams, password) == 20);
static_assert(offsetof(ZipParams, level) == 60);
static_assert(offsetof(ZipParams, junkDirs) == 72);
static_assert(offsetof(ZipParams, latestTime) == 108);
static_assert(offsetof(ZipParams, argc) == 120);
static_assert(offsetof(ZipParams, archive) == 124);
static_assert(offsetof(ZipParams, tempDir) == 128);
static_assert(offsetof(ZipParams, comment) == 132);
static_assert(offsetof(ZipParams, archiveOnly) == 136);
static_assert(offsetof(ZipParams, resetArchive) == 138);
static_assert(offsetof(ZipParams, fileSpecs) == 140);
static_assert(offsetof(ZipParams, excludeCount) == 148);
static_assert(offsetof(ZipParams, excludeSpecs) == 152);
static_assert(offsetof(ZipParams, seven) == 212);
static_assert(sizeof(ZipParams) == 216);
static_assert(offsetof(ZipParamsLegacy, seven) == 128);
static_assert(offsetof(ZipParamsLegacy, specs) == 132);
static_assert(sizeof(ZipParamsLegacy) == 16520);
static_assert(sizeof(UnzipFileSpec) == 72);
static_assert(offsetof(UnzipParams, password) == 24);
static_assert(offsetof(UnzipParams, overwrite) == 60);
static_assert(offsetof(UnzipParams, argc) == 64);
static_assert(offsetof(UnzipParams, archive) == 68);
static_assert(offsetof(UnzipParams, fileSpecs) == 72);
static_assert(offsetof(UnzipParams, toMemory) == 80);
static_assert(offsetof(UnzipParams, memory) == 84);
static_assert(offsetof(UnzipParams, memorySize) == 88);
static_assert(offsetof(UnzipParams, passwordReqCount) == 104);
static_assert(offsetof(UnzipParams, seven) == 144);
static_assert(sizeof(UnzipParams) == 148);
static_assert(offsetof(UnzipParamsLegacy, seven) == 72);
static_assert(offsetof(UnzipParamsLegacy, specs) == 76);
static_assert(sizeof(UnzipParamsLegacy) == 16464);
#endif

}  // namespace engine
