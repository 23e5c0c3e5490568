// Ctrl-C and Ctrl-Break on Windows: the system calls a console control
// handler on a thread of its own; it raises the watch that is active.
#include "cli/InterruptWatch.h"

#include <windows.h>

#include <mutex>

namespace {

// The handler is process-wide; the watch it raises is the one alive now.
std::mutex g_mutex;
CInterruptWatch* g_active = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;  // closing: the default ends the process
  std::lock_guard lock(g_mutex);
  if (g_active == nullptr) return FALSE;
  g_active->Raise();
  return TRUE;
}

}  // namespace

struct CInterruptWatch::Platform {};

CInterruptWatch::CInterruptWatch(std::function<void()> onInterrupt) : m_onInterrupt(std::move(onInterrupt)) {
  std::lock_guard lock(g_mutex);
  g_active = this;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CInterruptWatch::~CInterruptWatch() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard lock(g_mutex);
  g_active = nullptr;
}

void IgnoreBrokenPipe() {}
