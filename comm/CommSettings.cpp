#include "comm/CommSettings.h"

#include "core/Numbers.h"
#include "core/Text.h"

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool ParseBaud(std::string_view s, bool allowAbbreviation, uint32_t& baud) {
  // At most ten digits: a rate written with leading zeros past that is refused.
  const auto rate = s.size() <= 10 ? ParseDecimal32(s) : std::nullopt;
  if (!rate || *rate == 0) return false;
  baud = *rate;
  if (allowAbbreviation && s.size() == 2) {
    switch (baud) {
      case 11: baud = 110; break;
      case 15: baud = 150; break;
      case 30: baud = 300; break;
      case 60: baud = 600; break;
      case 12: baud = 1200; break;
      case 24: baud = 2400; break;
      case 48: baud = 4800; break;
      case 96: baud = 9600; break;
      case 19: baud = 19200; break;
      default: break;
    }
  }
  return true;
}

bool ParseParity(std::string_view s, uint8_t& parity) {
  if (s.size() != 1) return false;
  switch (std::toupper(static_cast<unsigned char>(s[0]))) {
    case 'N': parity = serial::NOPARITY; return true;
    case 'O': parity = serial::ODDPARITY; return true;
    case 'E': parity = serial::EVENPARITY; return true;
    case 'M': parity = serial::MARKPARITY; return true;
    case 'S': parity = serial::SPACEPARITY; return true;
    default: return false;
  }
}

bool ParseDataBits(std::string_view s, uint8_t& bits) {
  if (s.size() != 1 || s[0] < '5' || s[0] > '8') return false;
  bits = static_cast<uint8_t>(s[0] - '0');
  return true;
}

bool ParseStopBits(std::string_view s, uint8_t& stop) {
  if (s == "1") {
    stop = serial::ONESTOPBIT;
  } else if (s == "1.5") {
    stop = serial::ONE5STOPBITS;
  } else if (s == "2") {
    stop = serial::TWOSTOPBITS;
  } else {
    return false;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view s, bool (*isSep)(char)) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || isSep(s[i])) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool ParsePositional(std::string_view text, serial::LineSettings& line) {
  auto fields = Split(text, [](char c) { return c == ','; });
  if (fields.size() > 4) return false;
  for (auto& f : fields) f = Trim(f);
  if (fields[0].empty()) return false;  // the baud rate is never left out
  if (!ParseBaud(fields[0], true, line.baud)) return false;
  if (fields.size() > 1 && !fields[1].empty() && !ParseParity(fields[1], line.parity)) return false;
  if (fields.size() > 2 && !fields[2].empty() && !ParseDataBits(fields[2], line.byteSize)) return false;
  if (fields.size() > 3 && !fields[3].empty() && !ParseStopBits(fields[3], line.stopBits)) return false;
  return true;
}

bool ParseKeyed(std::string_view text, serial::LineSettings& line) {
  bool any = false;
  for (auto item : Split(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; })) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) return false;
    std::string key(item.substr(0, eq));
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view value = item.substr(eq + 1);
    bool ok = false;
    if (key == "baud") ok = ParseBaud(value, false, line.baud);
    else if (key == "parity") ok = ParseParity(value, line.parity);
    else if (key == "data") ok = ParseDataBits(value, line.byteSize);
    else if (key == "stop") ok = ParseStopBits(value, line.stopBits);
    // Flow-control keys (xon=, octs=, ...) are refused: the line always runs
    // without flow control, and accepting them would pretend otherwise.
    if (!ok) return false;
    any = true;
  }
  return any;
}

}  // namespace

bool ParseCommSettings(const char* text, serial::LineSettings& line) {
  if (text == nullptr) return false;
  const std::string_view s = Trim(text);
  if (s.empty()) return false;
  serial::LineSettings parsed = line;
  const bool ok = (s.find('=') != std::string_view::npos) ? ParseKeyed(s, parsed) : ParsePositional(s, parsed);
  if (ok) line = parsed;
  return ok;
}
