// What the worker reports about the update and its port, kept under a lock
// until the window's thread takes it. The worker makes its report before it
// posts WM_UPDATE_END or shows its "Can't open port!" box, so the window
// finds the value there when it handles either.
#pragma once

#include "core/View.h"

#include <functional>
#include <mutex>
#include <optional>

class CUpdateWatch : public IUpdateObserver {
public:
  struct Reports {
    std::optional<UpdateOutcome> outcome;
    std::optional<PortOpenResult> failedOpen;  // an open or reopen that failed
    bool portLost = false;                     // the device went away while no update ran
  };

  // Runs on the worker's thread after each report, so that the window can
  // arrange to look; set before the worker starts.
  void SetNotify(std::function<void()> notify) { m_notify = std::move(notify); }

  void OnUpdateOutcome(UpdateOutcome outcome) override;
  void OnPortOpenResult(PortOpenResult result) override;
  void OnPortLost() override;

  // The reports not taken yet; each is handed over once.
  Reports Take();

private:
  void Notify();

  std::function<void()> m_notify;
  std::mutex m_mutex;
  Reports m_reports;
};
