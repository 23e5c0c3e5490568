// printf-style formatting of the update's log lines.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// The C library's own printf on every platform: mingw's runtime formats
// %zu only when told it is GNU printf; clang knows no such name.
#if defined(__MINGW32__)
#define TQ_PRINTF_STYLE gnu_printf
#else
#define TQ_PRINTF_STYLE printf
#endif

[[gnu::format(TQ_PRINTF_STYLE, 1, 2)]] inline std::string FormatText(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return text;
}
