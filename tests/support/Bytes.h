// Byte strings for tests: literals, text and a pattern whose runs do not
// repeat at any power-of-two boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline Bytes S(const std::string& text) { return Bytes(text.begin(), text.end()); }

// seed, seed + 1, ... wrapping at 251: a prime period, so pieces of 4096
// or any other power of two never look alike and a lost, doubled or swapped
// piece shows. The bytes stay below 0xFB.
inline Bytes Pattern(size_t n, uint8_t seed = 0) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i + seed) % 251);
  return out;
}

// An image of pseudo-random bytes, the same for the same seed.
inline Bytes Image(size_t n, uint32_t seed) {
  Bytes v(n);
  uint32_t x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}
