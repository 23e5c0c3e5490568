// The file of `tqupdate dump`: the bytes go to FILE.part beside FILE, which
// is replaced only when the dump is complete, so that a failed or
// interrupted dump never destroys what FILE held before.
#pragma once

#include <string>

// The file a dump replaces: the path itself, or the file a symbolic link
// at the path points to (the link stays).
std::string DumpTargetPath(const std::string& path);
// Where the dump is written while it runs.
std::string DumpPartPath(const std::string& target);
// Moves the complete dump over its target, with the target's permissions
// when it had one. False with a reason when that fails.
bool FinishDump(const std::string& part, const std::string& target, std::string& error);
