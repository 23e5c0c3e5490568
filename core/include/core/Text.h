// Small text helpers shared by the file and settings readers.
#pragma once

#include <cctype>
#include <string_view>

// The text without the white space (space, tab, line breaks, VT, FF) around it.
inline std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}
