// Shared by the fuzz targets: a reader that turns the fuzzer's bytes into
// choices, and a check that stops the run on a broken invariant (libFuzzer
// keeps the input as a crash; the corpus replay fails the test).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond, what)                                                                    \
  do {                                                                                            \
    if (!(cond)) {                                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", __FILE__, __LINE__, #cond,     \
                   std::string(what).c_str());                                                    \
      std::abort();                                                                               \
    }                                                                                             \
  } while (0)

// Text with every byte that is not printable ASCII as \xHH, line breaks kept.
inline std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n' || (c >= 0x20 && c < 0x7F && c != '\\')) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// Reads choices off the input; once it is used up every read gives zeros.
class FuzzInput {
public:
  FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Empty() const { return m_pos >= m_size; }
  size_t Left() const { return m_size - m_pos; }
  uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) << 16 | U16(); }
  bool Bit() { return (Byte() & 1) != 0; }

  // Up to `limit` bytes, ended early by a zero byte (which is consumed).
  std::string Text(size_t limit) {
    std::string out;
    while (!Empty() && out.size() < limit) {
      const char c = static_cast<char>(Byte());
      if (c == '\0') break;
      out.push_back(c);
    }
    return out;
  }
  // Everything that is left.
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos);
    m_pos = m_size;
    return out;
  }

private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};
