#pragma once
// For the crash tests: what a crash, a power cut or a failing disk does to an operation at
// any of its steps. The test executable defines libc's file calls itself (open, write,
// rename, fsync, unlink, mkdir, ...; PowerCut.cpp), and the executable's definitions are
// the ones the whole process calls: the program's code, libstdc++, Qt and the engines it
// loads at run time. Once armed in a (forked) child, the calls that change a file or a
// folder below the test's folder are steps, each mode counting its own:
//   Kill      every such call and every fsx::crashPoint() but syncs (a killed process loses
//             nothing the system holds): the process ends with SIGKILL before the call;
//   PowerCut  every sync that makes something lasting (between two of them a power cut
//             leaves the same disk): after it the process puts the disk back to what a power
//             cut would leave, then ends with SIGKILL. A file keeps what it held at its last
//             fsync (a file there when the shim was armed counts as synced, a new one never
//             synced is empty); a create, rename, unlink, mkdir or rmdir not followed by an
//             fsync of the folder it changed (for a rename: the folder renamed into) is
//             undone, a replaced or removed file coming back; sync() and syncfs() keep all;
//   Fail      every write (ENOSPC), creation (ENOSPC), rename (EIO), truncation (EIO) and
//             sync (EIO): the call chosen fails once, all others work.
// Unarmed (the tests' own process) every call goes straight through.

#include <string>

namespace powercut {

enum class Mode { Kill, PowerCut, Fail };

const char* name(Mode mode);

// Arms the shim in this process for the files below `root` (which must exist); step 0
// counts the steps without doing anything. Keeps its journal in `root` + ".powercut/".
void arm(const std::string& root, Mode mode, long step);
// True once the step chosen was reached (for Fail: the failure was made).
bool reached();
// The steps counted since arm().
long steps();
// Stops counting and removes the journal.
void disarm();
// The call at the step chosen ("renameat2 game/a.tm1.tmp -> game/a", paths below the
// root), left by the child that reached it; "" when none did. Read once.
std::string stepNote(const std::string& root);

}  // namespace powercut
