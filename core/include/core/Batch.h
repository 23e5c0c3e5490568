// The batch list: what one entry asks for, and where a run takes the list from.
#pragma once

#include <cstdint>
#include <string>

// One entry of a batch run.
struct BatchEntry {
  int32_t act = 255;
  int32_t base = 0;
  int32_t length = 0;
  std::string file;
};

// Where a batch run takes its entries: the Bat section of cfg.ini, or a list
// kept in memory by a front end.
class IBatchSource {
public:
  virtual ~IBatchSource() = default;
  virtual int32_t TotalNum() = 0;
  virtual BatchEntry Entry(int32_t index) = 0;
  // Whether the run goes on to entry `index` (below TotalNum()) once the one
  // before it is done. A list that learns from its own entries as they run
  // may end early; the configuration file's list never does.
  virtual bool HasEntry(int32_t index) {
    (void)index;
    return true;
  }
};
