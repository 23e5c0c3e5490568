// The report: one JSON object per board run (JSON Lines), appended as
// each run ends. Each record is made whole in memory and goes to the file in
// one write() of the complete line on a descriptor opened with O_APPEND,
// followed by fsync, so the file never holds half a record, whatever stops
// the program, and several boards (or programs) may append to it at once.
#pragma once

#include "prod/BoardStatus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct BoardRecord {
  std::string port;   // as given on the command line
  std::string name;   // the board's name in the output and in {port}
  int64_t run = 1;    // the board's number on its port (a station counts up)
  std::string command;
  std::chrono::system_clock::time_point start, end;
  double seconds = 0;
  std::optional<uint32_t> base, length;
  std::string image;  // program: the image, its size and SHA-256
  std::optional<uint64_t> imageSize;
  std::string imageSha256;
  std::string file;   // dump: the file written, and its SHA-256 when complete
  std::string fileSha256;
  std::optional<uint64_t> resumedFrom;  // dump --resume: the offset the chip was asked from
  RunFacts facts;
  std::optional<size_t> verifyOffset;  // the first differing byte
  std::vector<std::string> logTail;    // the last log lines, on failure
};

// "2024-05-01T12:00:00.123Z"
std::string Iso8601Utc(std::chrono::system_clock::time_point when);
// The run's result in one word (done, failed, usage, no-port, silent,
// interrupted) and in detail (retry-failed, port-lost, verify-differs, ...).
std::string ResultWord(const RunFacts& facts);
std::string ResultReason(const RunFacts& facts);
std::optional<std::string> VerifyWord(const RunFacts& facts);
// The record as one line of JSON, ending in '\n'.
std::string RecordLine(const BoardRecord& record);

// Bytes as lower-case hexadecimal.
std::string HexDigest(const unsigned char* digest, size_t size);

// SHA-256 of bytes and of a whole file, as lower-case hexadecimal (one
// source file per platform: prod/platform/ReportFile*.cpp).
std::string Sha256Hex(const uint8_t* data, size_t length);
std::optional<std::string> Sha256OfFile(const std::string& path, std::string& error);

// Opens FILE for appending log lines: only a regular file (a FIFO would
// block until a reader came; a terminal or device is no log), without
// waiting, never inherited by a program started later. Null with the reason.
FILE* OpenLogForAppend(const std::string& path, std::string& error);

class CRecordFile {
public:
  CRecordFile() = default;
  ~CRecordFile();
  CRecordFile(const CRecordFile&) = delete;
  CRecordFile& operator=(const CRecordFile&) = delete;

  // Creates the file if need be; false with the reason when it cannot be appended to.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return m_fd >= 0; }
  // One write() of the whole line, then fsync. Any thread.
  bool Append(const std::string& line, std::string& error);

private:
  std::mutex m_mutex;
  int m_fd = -1;
};
