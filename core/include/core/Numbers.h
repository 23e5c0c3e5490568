// The number syntaxes the program reads, one parser for each. Which one a
// reader uses is part of its file or command-line format, so they differ on
// purpose: what they accept and what they make of text they do not accept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal digits and nothing else, up to 0xFFFFFFFF. (Baud rates in the
// port settings text.)
std::optional<uint32_t> ParseDecimal32(std::string_view text);

// Decimal, or hexadecimal after "0x"/"0X"; the whole text, without blanks or
// sign, up to 0xFFFFFFFF. A leading 0 does not make it octal. (Numbers on the
// tqupdate command line.)
std::optional<uint32_t> ParseDecOrHex32(std::string_view text);

// A C integer literal, the whole text, up to `max`: hexadecimal after 0x,
// octal after a leading 0, decimal otherwise. Leading blanks and a '+' pass,
// a leading '-' does not. (Numbers on the chipsim command line.)
std::optional<uint64_t> ParseCNumber(const std::string& text, uint64_t max);

// The C integer literal at the start of the text, after optional blanks and
// a sign, wrapped to 32 bits; text that does not start with one reads as 0.
// (The numbers of a chip-model line in cfg.ini.)
int32_t ParseLeadingCNumber(const std::string& text);

// True when the text is one C integer literal as ParseLeadingCNumber reads
// it and nothing else but blanks around it: "abc", "", "0x", "08" and "1x"
// are not. (The check that a chip-model line holds only numbers.)
bool IsWholeCNumber(const std::string& text);

// The number at the start of the text after optional blanks (space, tab,
// CR, VT, FF) and a sign: hexadecimal after "0x", decimal otherwise (a
// leading 0 stays decimal). Digits beyond 32 bits wrap; text that does not
// start with a number reads as 0. (Integer values of a profile file.)
int32_t ParseLeadingDecOrHex(std::string_view text);
