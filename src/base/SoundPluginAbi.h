#pragma once
// The sound plug-in's calling interface: its exports, callbacks and modes, shared by the
// sound player and by the plug-ins built here. Free of Qt.

#include <cstdint>

// Calling convention of every plug-in export and callback: the standard system convention,
// which differs from the default only on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define TM_SOUND_CALL __stdcall
#else
#define TM_SOUND_CALL
#endif

#if defined(_WIN32)
#define TM_SOUND_EXPORT extern "C" __declspec(dllexport)
#else
#define TM_SOUND_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace sm {

using Handle = uintptr_t;  // 0 = none
using Bool = uint8_t;      // 8-bit truth value, false = 0

// Player modes answered by SMGetPlayerMode.
inline constexpr uint8_t kModeClosed = 0;
inline constexpr uint8_t kModeOpened = 1;
inline constexpr uint8_t kModePlaying = 2;
inline constexpr uint8_t kModeFinished = 3;

// Callbacks into the component; `owner` is the value registered with SMSetOutCB/SMSetInCB.
using OutputDataFn = Bool(TM_SOUND_CALL*)(void* owner, const void* data, uint32_t size);
// init = 1 before the first data (with the stream's format), 0 after the last.
using OutputInitDoneFn = Bool(TM_SOUND_CALL*)(void* owner, Bool init, int32_t rate,
                                              int32_t channels, int32_t bits);
using InputOpenFn = Bool(TM_SOUND_CALL*)(void* owner, const char* name);
using InputCloseFn = Bool(TM_SOUND_CALL*)(void* owner);
using InputGetSizeFn = Bool(TM_SOUND_CALL*)(void* owner, int32_t* size);
using InputSeekFn = Bool(TM_SOUND_CALL*)(void* owner, int32_t position);
using InputReadFn = Bool(TM_SOUND_CALL*)(void* owner, void* buffer, uint32_t size, uint32_t* done);

// The 41 exports.
using InitModuleFn = Handle(TM_SOUND_CALL*)();
using HandleFn = void(TM_SOUND_CALL*)(Handle);
using HandleBoolFn = Bool(TM_SOUND_CALL*)(Handle);
using GetIntFn = int32_t(TM_SOUND_CALL*)(Handle);
using SetIntFn = Bool(TM_SOUND_CALL*)(Handle, int32_t);
using SetTwoIntsFn = Bool(TM_SOUND_CALL*)(Handle, int32_t, int32_t);
using GetTextFn = Bool(TM_SOUND_CALL*)(Handle, char* buffer, uint32_t* size);
using SetModeFn = Bool(TM_SOUND_CALL*)(Handle, uint8_t);
using SetNameFn = Bool(TM_SOUND_CALL*)(Handle, const char*);
using GetPlayerModeFn = uint8_t(TM_SOUND_CALL*)(Handle);
using GetVersionFn = int32_t(TM_SOUND_CALL*)();
using SetOutCBFn = void(TM_SOUND_CALL*)(Handle, OutputDataFn, OutputInitDoneFn, void* owner);
using SetInCBFn = void(TM_SOUND_CALL*)(Handle, InputOpenFn, InputCloseFn, InputGetSizeFn,
                                       InputSeekFn, InputReadFn, void* owner);
using GetVolumeFn = Bool(TM_SOUND_CALL*)(Handle, uint32_t*);
using SetVolumeFn = void(TM_SOUND_CALL*)(Handle, uint32_t);
using CanSetVolumeFn = Bool(TM_SOUND_CALL*)(Handle, Bool*);
using GetInfoFn = Bool(TM_SOUND_CALL*)(Handle, int32_t*, int32_t*);
using SetWindowFn = void(TM_SOUND_CALL*)(Handle, void* window);
using UseFn = void(TM_SOUND_CALL*)(Handle, Bool);
using UseEQFn = Bool(TM_SOUND_CALL*)(Handle, Bool);
using EQFn = Bool(TM_SOUND_CALL*)(Handle, int32_t band, int32_t value);

// Export names in the order the player looks them up.
inline constexpr const char* kExportNames[41] = {"SMInitModule",
                                                 "SMDeInitModule",
                                                 "SMOpen",
                                                 "SMClose",
                                                 "SMPlay",
                                                 "SMCanPause",
                                                 "SMPause",
                                                 "SMResume",
                                                 "SMStop",
                                                 "SMCanSetPos",
                                                 "SMGetPos",
                                                 "SMSetPos",
                                                 "SMGetAbout",
                                                 "SMGetName",
                                                 "SMGetSize",
                                                 "SMSetInputMode",
                                                 "SMSetOutputMode",
                                                 "SMSetInputName",
                                                 "SMSetOutputName",
                                                 "SMSetOutputDev",
                                                 "SMGetPlayerMode",
                                                 "SMLastError",
                                                 "SMGetVersion",
                                                 "SMSetBuffers",
                                                 "SMSetPriority",
                                                 "SMSetLimits",
                                                 "SMSetOutCB",
                                                 "SMGetVolume",
                                                 "SMSetVolume",
                                                 "SMCanSetVolume",
                                                 "SMGetExts",
                                                 "SMGetInfo1",
                                                 "SMGetInfo2",
                                                 "SMInitStream",
                                                 "SMSetDevNum",
                                                 "SMSetInCB",
                                                 "SMSetWindow",
                                                 "SMUseOutCB",
                                                 "SMUseEQ",
                                                 "SMHasEQ",
                                                 "SMEQ"};

}  // namespace sm
