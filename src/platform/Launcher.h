#pragma once
// Start request: start a program (or open a document or link) without waiting for it.

#include <string>

namespace launcher {

// Starts `program` with `workingDir` as its working directory and no arguments, not waited
// for. A native executable (or a script with its run bit) starts directly; a Windows
// program (a PE image, known by its content) starts through Wine when Wine is installed
// and fails otherwise. Returns true when the process was started.
bool startProgram(const std::string& program, const std::string& workingDir);

// Hands a link (http:, mailto:, a document path) to the desktop's handler.
bool openLink(const std::string& link);

// True when `path` is a PE image (MZ header pointing at a "PE\0\0" signature).
bool isWindowsProgram(const std::string& path);

}  // namespace launcher
