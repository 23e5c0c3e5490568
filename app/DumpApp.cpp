#include "app/DumpApp.h"

#include "core/Config.h"

CDumpApp::CDumpApp() : m_strAppDir(ExecutableDirectory()) { m_strConfigDir = m_strAppDir + "config/"; }

void CDumpApp::SetConfigDir(std::string dir) {
  if (dir.empty()) dir.push_back('.');
  if (dir.back() != '/') dir += '/';
  m_strConfigDir = std::move(dir);
}
