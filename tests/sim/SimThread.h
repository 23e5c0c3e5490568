// The simulator's runner on a pseudo-terminal in a thread of this process,
// checking sizes only and logging nothing: for timing the line against a
// scripted host without a child process.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/SimRunner.h"

class CSimThread {
public:
  CSimThread() { m_log.Silence(); }
  ~CSimThread() { Stop(); }
  CSimThread(const CSimThread&) = delete;
  CSimThread& operator=(const CSimThread&) = delete;

  // Opens the flash file and the device and starts the runner; false with
  // the reason when either cannot be opened.
  bool Start(const SimOptions& options, std::string* error) {
    m_opt = options;
    if (!m_flash.Open(m_opt.m_strFlashFile, m_opt.m_nFlashSize, error) || !m_device.Open(error)) return false;
    m_core = std::make_unique<CChipCore>(m_opt, m_images, m_flash, m_log);
    m_runner = std::make_unique<CSimRunner>(*m_core, m_device, m_opt, m_log);
    m_thread = std::thread([this] { m_runner->Run(m_stop); });
    return true;
  }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  const std::string& DevicePath() const { return m_device.Path(); }

private:
  SimOptions m_opt;
  SimImages m_images;  // sizes only
  CSimLog m_log;
  CFlashStore m_flash;
  CPtyDevice m_device;
  std::unique_ptr<CChipCore> m_core;
  std::unique_ptr<CSimRunner> m_runner;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};
