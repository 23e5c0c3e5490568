// File access for the update: image and loader files are
// opened by name for each use and closed at once; a dump file stays open
// while the dump streams in and is written through a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/UpdateIo.h"

// A dump file written through a buffer. Bytes reach the file in the order
// they were written. After the first failed write every later write fails
// too, so the file never holds a gap followed by later bytes.
class CBufferedDumpSink : public IDumpSink {
public:
  static constexpr size_t kDefaultBufferSize = 64 * 1024;

  // Takes ownership of an open descriptor.
  explicit CBufferedDumpSink(int fd, size_t bufferSize = kDefaultBufferSize);
  ~CBufferedDumpSink() override;  // flushes and closes, errors ignored
  CBufferedDumpSink(const CBufferedDumpSink&) = delete;
  CBufferedDumpSink& operator=(const CBufferedDumpSink&) = delete;

  bool Write(const uint8_t* data, size_t length, std::string& error) override;
  bool Flush(std::string& error) override;
  bool Close(std::string& error) override;

private:
  // False, with the reason, once the file is closed or a write has failed.
  bool Usable(std::string& error) const;
  bool WriteAll(const uint8_t* data, size_t length, std::string& error);

  int m_fd;
  std::vector<uint8_t> m_buffer;
  size_t m_used = 0;
  std::string m_failure;  // set by the first failed write; sticky
};

// Files by name on this platform (comm/platform/FileAccessPosix.cpp or
// FileAccessWin32.cpp). Binary everywhere; only regular files are taken.
class CHostFileAccess : public IFileAccess {
public:
  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override;
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override;
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override;
  // A dump's working file beside the file it will replace: whatever is at
  // `path` is removed first (a link itself, never what it points to), then
  // the file is created anew and only if no one made one in between. So the
  // bytes can never go through a link, or into a file another user made or
  // one that has a second name.
  std::unique_ptr<IDumpSink> CreateFreshDump(const std::string& path, std::string& error);
  // A dump's working file that an earlier run began, to go on with: opened
  // without following a link, only when it is a regular file of this user
  // with no other name, cut to its first `keep` bytes; writes go after them.
  std::unique_ptr<IDumpSink> ContinueDump(const std::string& path, uint64_t keep, std::string& error);
};
using CPosixFileAccess = CHostFileAccess;
