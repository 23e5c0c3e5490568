// The small interfaces through which the update engine acts. The engine does
// no I/O of its own: it reacts to received bytes and timer ticks and reaches
// the port, the clock, the files and the batch list only through these, so a
// test can script the chip byte by byte.
#pragma once

#include "core/Batch.h"
#include "core/View.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The serial port as the update sees it.
class IUpdatePort {
public:
  virtual ~IUpdatePort() = default;
  // Copies the bytes and returns without waiting for the line.
  virtual void Write(const uint8_t* data, size_t length) = 0;
  // Bytes written that have not yet left the host: those the port still
  // queues and those the driver has not sent on the line.
  virtual size_t OutputQueued() = 0;
  // Drops everything received and not yet read.
  virtual void DiscardInput() = 0;
  // Waits up to `milliseconds` for received bytes that have not been read
  // yet; true as soon as there are some (they then reach the engine through
  // the receive path), false when the line stayed quiet.
  virtual bool InputWithin(uint32_t milliseconds) {
    (void)milliseconds;
    return false;
  }
  // The chip owes `bytes` more that it sends without pause (the rest of a
  // dump block): the port may let them gather before it hands them on. 0
  // when nothing is owed, and whenever the engine waits for a reply.
  virtual void ExpectStream(size_t bytes) { (void)bytes; }
  // Closes the port and opens it again, on the port number of the last open
  // request, at `baud` with 8 data bits, no parity and one stop bit.
  virtual PortOpenResult ReopenAtBaud(uint32_t baud) = 0;
};

// The fixed waits of the protocol. A test records them instead of sleeping.
class IUpdateClock {
public:
  virtual ~IUpdateClock() = default;
  virtual void Wait(uint32_t milliseconds) = 0;
  // As Wait, but gives up as soon as `stopWaiting` answers true; false then.
  // A clock that waits for real must learn of a stop while it sleeps (the
  // worker's sleeps on its queue, where the stop arrives).
  virtual bool WaitOrStop(uint32_t milliseconds, const std::function<bool()>& stopWaiting) {
    Wait(milliseconds);
    return !stopWaiting();
  }
  // Milliseconds from an arbitrary origin, monotonic.
  virtual uint64_t NowMs() = 0;
};

// What the engine learns of a stop on its way while it is inside a step.
class IUpdateStop {
public:
  virtual ~IUpdateStop() = default;
  // A stop (or the end of the worker) waits behind the step in progress:
  // the step is abandoned at the next piece.
  virtual bool StopWaiting() = 0;
  // A stop has been asked for once the block in flight is done: the engine
  // lets that block finish but begins nothing new (no erase, no program, no
  // next block) and ends the update as stopped.
  virtual bool WindingDown() = 0;
};

// A dump file being written. Bytes may be buffered, but every byte reaches
// the file in arrival order once Flush or Close returns true.
class IDumpSink {
public:
  virtual ~IDumpSink() = default;
  virtual bool Write(const uint8_t* data, size_t length, std::string& error) = 0;
  virtual bool Flush(std::string& error) = 0;
  virtual bool Close(std::string& error) = 0;
};

class IFileAccess {
public:
  virtual ~IFileAccess() = default;
  // Size of a regular file; false with a reason when it cannot be opened.
  virtual bool FileSize(const std::string& path, uint64_t& size, std::string& error) = 0;
  // Reads up to `length` bytes at `offset`; `got` is what was read.
  virtual bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length,
                      size_t& got, std::string& error) = 0;
  // Creates the file, or empties it when it exists, for a dump.
  virtual std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) = 0;
};
