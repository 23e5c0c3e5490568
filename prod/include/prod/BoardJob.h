// What one board is to have done: the command and its settings, as every
// front end gives them to the production library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class JobCommand { Program, Erase, Dump, Batch };

struct JobOptions {
  JobCommand command = JobCommand::Batch;
  std::string port;  // device path, COMn or n; empty: the remembered port
  std::string baud;
  std::string chip, ramType, ramSize, xtal, flashType, flashModel;
  double timeoutSeconds = 60;
  bool verify = true;       // program: read the range back and compare (--no-verify: false)
  bool verifyDump = false;  // dump --verify: read the range twice and settle every block
  bool resume = false;      // dump --resume: go on with FILE.part of the same dump
  // Operands.
  std::string base, length, image, dumpFile;
};

// A BASE or LENGTH operand: decimal or 0x-hexadecimal, 32 bits.
std::optional<uint32_t> ParseNumberOperand(const std::string& text);

// A list choice given as a position or as the entry's text (case ignored).
std::optional<int32_t> ParseListChoice(const std::vector<std::string>& entries, const std::string& text);
