// The chip's end of the line: a pseudo-terminal whose other end the host
// opens like a serial port. The simulator holds one descriptor of the host's
// end itself, so the host can close and reopen the device (it does so to
// switch to 115200 baud) without the line hanging up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CPtyDevice {
public:
  CPtyDevice() = default;
  ~CPtyDevice();
  CPtyDevice(const CPtyDevice&) = delete;
  CPtyDevice& operator=(const CPtyDevice&) = delete;

  // Creates the device, readable and writable by every user, in raw mode.
  bool Open(std::string* error);
  // Also publishes the device as a symlink; an old symlink there is replaced.
  bool Link(const std::string& path, std::string* error);
  // Closes both ends (the host then sees the device vanish) and removes the link.
  void Close();

  bool IsOpen() const { return m_hMaster >= 0; }
  const std::string& Path() const { return m_strPath; }
  const std::string& LinkPath() const { return m_strLink; }
  // The line rate the host last set on its end; 0 when unknown.
  int LineBaud() const;
  // Bytes written to the host that it has not read yet.
  size_t UnreadByHost() const;
  // Exclusive mode belongs to the terminal, so a host that sets it and does
  // not clear it when it closes could not reopen the device while the
  // simulator holds its own descriptor. True when such a mode was cleared.
  bool ClearExclusive();

  // What the host wrote, without waiting: the count read, 0 when nothing is
  // there (or the device is closed).
  size_t ReadFromHost(uint8_t* out, size_t capacity);
  // Writes without waiting: the count the line took, 0 when it is full.
  size_t WriteToHost(const uint8_t* data, size_t length);
  // Waits up to waitNs for the host to write (or, with forWriting, for room
  // to write). False when the host's end hung up, which cannot happen while
  // the simulator's own descriptor of it is open.
  bool WaitForHost(int64_t waitNs, bool forWriting);

private:
  int m_hMaster = -1;
  int m_hSlave = -1;
  std::string m_strPath;
  std::string m_strLink;
};
