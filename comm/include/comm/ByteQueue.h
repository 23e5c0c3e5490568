// A first-in first-out queue of bytes: appends at the back, takes from the
// front, and gives back memory once it has been read out. Not thread-safe;
// its owner guards it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class CByteQueue {
public:
  size_t Size() const { return m_data.size() - m_nHead; }
  bool Empty() const { return Size() == 0; }
  const uint8_t* Front() const { return m_data.data() + m_nHead; }

  void Append(const uint8_t* bytes, size_t n) { m_data.insert(m_data.end(), bytes, bytes + n); }

  void Consume(size_t n) {
    m_nHead += std::min(n, Size());
    if (m_nHead == m_data.size()) {
      Clear();
    } else if (m_nHead >= kCompactAt && m_nHead * 2 >= m_data.size()) {
      // Move the unread rest to the front once the read part dominates.
      m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_nHead));
      m_nHead = 0;
    }
  }

  // Copies up to n bytes out and removes them; returns how many.
  size_t Take(uint8_t* out, size_t n) {
    n = std::min(n, Size());
    if (n > 0) std::memcpy(out, Front(), n);
    Consume(n);
    return n;
  }

  void Clear() {
    m_data.clear();
    m_nHead = 0;
    if (m_data.capacity() > kKeepCapacity) m_data.shrink_to_fit();
  }

private:
  static constexpr size_t kCompactAt = 16 * 1024;
  static constexpr size_t kKeepCapacity = 64 * 1024;
  std::vector<uint8_t> m_data;
  size_t m_nHead = 0;
};
