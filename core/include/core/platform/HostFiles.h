// The few things about files, the program's own path and the clock that
// differ between operating systems. One source file per platform implements
// them (core/platform/HostPosix.cpp, HostWin32.cpp); CMake picks the file.
//
// Every file here is handled as bytes: no text-mode translation of line
// breaks and no end-of-file character, whatever the platform does by default.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace host {

// Reads the whole of a regular file; false when it is missing, a folder, a
// FIFO, a device or unreadable. Never waits for a FIFO's writer.
bool ReadRegularFile(const std::string& path, std::string& out);

// The size of a regular file; false with an errno value in `err` when it is
// missing or unreadable (EISDIR for anything that is not a regular file).
bool RegularFileSize(const std::string& path, uint64_t& size, int& err);

// True when `path` names a regular file, a link followed; a folder, a FIFO or
// a device is none. The file is only looked at, never opened.
bool IsRegularFile(const std::string& path);

// The size the system records for whatever `path` names, a link followed;
// false when it names nothing that can be looked at.
bool RecordedSize(const std::string& path, uint64_t& size);

// What the running program may do with a file or folder.
enum class Access { Read, Write, ReadWrite };

// 0 when the file's permissions allow `what` to the running program,
// otherwise the errno value saying why not (ENOENT, EACCES, EROFS, ...).
// Nothing is opened: a later open may still fail.
int AccessError(const std::string& path, Access what);

// Creates the file, or empties an existing one; false when it cannot be written.
bool CreateEmptyFile(const std::string& path);

// Writes `data` into a new file in target's folder and puts it in place of
// `target` in one step, replacing an existing file, so that a reader sees the
// old content or the new one and never a part. Where the system has them, the
// old file's mode and owner are kept. On failure nothing is left behind.
bool ReplaceFileWith(const std::filesystem::path& target, const std::string& data);

// Puts the regular file `source` in place of `target` in one step, replacing
// an existing file, so that `target` names the old file or the new one and
// never neither. Where the system has them, the old file's mode and owner
// pass to the new one. False with the system's reason in `error`; `source`
// is then still there.
bool MoveFileOver(const std::string& source, const std::string& target, std::string& error);

// The name of the group that owns the file (a serial device: who may open
// it); empty where the system has no such thing or does not say.
std::string FileGroupName(const std::string& path);

// The full path of the running program; empty when the system does not say.
std::filesystem::path ExecutablePath();

// `t` as local time; false when it cannot be represented.
bool LocalTime(std::time_t t, std::tm& out);

// `t` as UTC; false when it cannot be represented.
bool UtcTime(std::time_t t, std::tm& out);

}  // namespace host
