#include "sim/SimLog.h"

#include <cstdarg>

CSimLog::~CSimLog() {
  if (m_pFile != nullptr) std::fclose(m_pFile);
}

bool CSimLog::Open(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "ae");
  if (f == nullptr) return false;
  if (m_pFile != nullptr) std::fclose(m_pFile);
  m_pFile = f;
  return true;
}

void CSimLog::Line(int64_t nowUs, const char* format, ...) {
  if (m_bSilent && !m_bKeepText) return;
  char body[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(body, sizeof body, format, args);
  va_end(args);
  const double seconds = static_cast<double>(nowUs - m_nOriginUs) / 1e6;
  char line[600];
  std::snprintf(line, sizeof line, "[%9.3f] %s\n", seconds, body);
  if (m_bKeepText) m_strText += line;
  if (m_bSilent) return;
  FILE* out = m_pFile != nullptr ? m_pFile : stderr;
  std::fputs(line, out);
  std::fflush(out);
}
