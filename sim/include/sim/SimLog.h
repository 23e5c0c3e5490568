// The simulator's session log: one line per block seen, check made and
// answer given, stamped with the seconds since the simulator started.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class CSimLog {
public:
  // Writes to stderr until Open names a file; a null sink keeps nothing.
  CSimLog() = default;
  ~CSimLog();
  CSimLog(const CSimLog&) = delete;
  CSimLog& operator=(const CSimLog&) = delete;

  bool Open(const std::string& path);
  void Silence() { m_bSilent = true; }
  void SetVerbose(bool verbose) { m_bVerbose = verbose; }
  bool Verbose() const { return m_bVerbose; }
  // Time origin of the stamps, in the caller's microseconds.
  void SetOrigin(int64_t originUs) { m_nOriginUs = originUs; }

  [[gnu::format(printf, 3, 4)]] void Line(int64_t nowUs, const char* format, ...);
  // Every line also lands here, so tests can read what was logged.
  const std::string& Text() const { return m_strText; }
  void KeepText(bool keep) { m_bKeepText = keep; }

private:
  FILE* m_pFile = nullptr;
  bool m_bSilent = false;
  bool m_bVerbose = false;
  bool m_bKeepText = false;
  int64_t m_nOriginUs = 0;
  std::string m_strText;
};
