// The application object: the data the window and the worker thread share.
//
// Data travels between the threads with the messages that announce it (the
// port settings text with the open request, a snapshot of the update
// settings with the start request), so the only member both threads touch
// is the worker's thread id, which is atomic.
#pragma once

#include "core/UpdateSettings.h"
#include "core/Version.h"

#include <atomic>
#include <cstdint>
#include <string>

class CDumpApp {
public:
  CDumpApp();

  // The worker's thread id; 0 while no worker runs. The window posts nothing while it is 0.
  std::atomic<uint32_t> m_dwWorkerThreadId{0};

  // The folder of the executable, ending in '/'; prefix of config/cfg.ini,
  // config/boot.bin and config/flash.bin.
  std::string m_strAppDir;
  // The folder with cfg.ini, boot.bin and flash.bin, ending in '/'
  // (m_strAppDir + "config/" unless a front end names another).
  std::string m_strConfigDir;

  // Update settings, file paths and the image size, owned by the window's
  // thread; the worker gets a copy with each start request.
  UpdateSettings m_settings;

  void SetConfigDir(std::string dir);
};

// The window's caption.
inline constexpr const char* APP_VERSION_BANNER = TQ_VERSION_BANNER;
