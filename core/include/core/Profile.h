// Reading and writing INI profile files (sections in square brackets, then
// "key=value" lines).
//
// Section and key names compare without regard to case. Nothing is cached:
// every call reads the file again. A missing or unreadable file, section or
// key gives the default. A write changes only its key's line and keeps every
// other byte; it goes to a temporary file beside the original which then
// replaces it, so a failed write never leaves a half-written file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Budget of a section read as a whole, counting one terminator byte per line.
inline constexpr size_t PROFILE_SECTION_BUDGET = 3000;

// The value as an integer: optional blanks and sign, then decimal digits, or
// hexadecimal after "0x". Text that does not start with a number reads as 0.
int32_t ReadProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                       const std::string& path);

// The value as text, without blanks around it and without one pair of
// enclosing quotes, cut to capacity - 1 characters.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, size_t capacity, const std::string& path);

// The lines of a section in file order, each unchanged but for surrounding
// blanks; blank lines and comment lines (';' or '#') are not lines. Lines that
// no longer fit into `budget` bytes (one terminator each) are dropped.
std::vector<std::string> ReadProfileSection(const std::string& section, const std::string& path,
                                            size_t budget = PROFILE_SECTION_BUDGET);

// Sets key=value in the section, creating the file and the section when the
// folder exists. Returns false when the file cannot be written.
bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path);

// Compares ASCII names without regard to case, as sections and keys compare.
bool EqualNoCase(std::string_view a, std::string_view b);

// The text before the first '=' without trailing blanks, or the whole line
// when it has none.
std::string ProfileKeyPart(const std::string& line);
