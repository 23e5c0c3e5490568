// The port settings text, as the mode command writes it.
//
// Two forms are understood:
//   "baud[,parity[,data[,stop]]]"          e.g. "115200,N,8,1", "96,e,7,2"
//   "baud=B parity=P data=D stop=S"        keys in any order, each optional
// Parity is one of N, E, O, M, S; data bits 5 to 8; stop bits 1, 1.5 or 2.
// In the first form a two-digit baud of 11, 15, 30, 60, 12, 24, 48, 96 or 19
// is the old abbreviation (110 ... 19200); any other number is the rate
// itself. Fields left out, or left empty ("9600,,8"), keep their present
// value. Case and blanks around fields do not matter.
#pragma once

#include "comm/platform/SerialPlatform.h"

// Applies the text to `line`; false (and `line` untouched) when it is malformed.
bool ParseCommSettings(const char* text, serial::LineSettings& line);
