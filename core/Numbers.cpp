#include "core/Numbers.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

bool IsHexPrefix(std::string_view text, size_t at) {
  return at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
}

int HexDigit(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (!std::isxdigit(u)) return -1;
  return std::isdigit(u) ? c - '0' : std::tolower(u) - 'a' + 10;
}

bool IsProfileBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::optional<uint32_t> ParseDecimal32(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::optional<uint32_t> ParseDecOrHex32(std::string_view text) {
  // "0x" alone is neither: it has no digits after the prefix.
  if (text.size() <= 2 || !IsHexPrefix(text, 0)) return ParseDecimal32(text);
  uint64_t v = 0;
  for (char c : text.substr(2)) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::optional<uint64_t> ParseCNumber(const std::string& text, uint64_t max) {
  if (text.empty() || text[0] == '-') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return std::nullopt;
  return v;
}

int32_t ParseLeadingCNumber(const std::string& text) {
  // strtoll with base 0 gives exactly the 0x / leading-0 / decimal rules,
  // with blanks and a sign allowed, and 0 for text without a number. A value
  // past the signed range is read again unsigned so that it wraps.
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 0);
  if (errno == ERANGE) v = static_cast<long long>(std::strtoull(text.c_str(), nullptr, 0));
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(v)));
}

bool IsWholeCNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsProfileBlank(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  // A digit must follow at once (strtoull would skip more blanks). Of "0x"
  // and "08" it reads only the 0, so the rest shows up as trailing text.
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  char* end = nullptr;
  (void)std::strtoull(text.c_str() + i, &end, 0);
  for (const char* p = end; *p != '\0'; ++p)
    if (!IsProfileBlank(*p)) return false;
  return true;
}

int32_t ParseLeadingDecOrHex(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsProfileBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint64_t v = 0;
  if (IsHexPrefix(s, i)) {
    for (i += 2; i < s.size() && HexDigit(s[i]) >= 0; ++i) v = (v << 4 | static_cast<uint64_t>(HexDigit(s[i]))) & 0xFFFFFFFFull;
  } else {
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = (v * 10 + static_cast<uint64_t>(s[i] - '0')) & 0xFFFFFFFFull;
  }
  uint32_t u = static_cast<uint32_t>(v);
  if (negative) u = 0u - u;
  return static_cast<int32_t>(u);
}
