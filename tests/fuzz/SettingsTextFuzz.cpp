// The small text parsers that read the configuration: the port settings text
// and the numbers of a chip-model line. Whatever the text, a parse leaves a
// usable value, and a value written back out as text parses to itself.
#include "core/Config.h"
#include "core/Numbers.h"
#include "comm/CommSettings.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <string>

namespace {

std::string Show(const serial::LineSettings& l) {
  char text[80];
  std::snprintf(text, sizeof text, "baud %u data %u parity %u stop %u", l.baud, l.byteSize, l.parity, l.stopBits);
  return text;
}

bool Same(const serial::LineSettings& a, const serial::LineSettings& b) {
  return a.baud == b.baud && a.byteSize == b.byteSize && a.parity == b.parity && a.stopBits == b.stopBits;
}

void CheckPortSettings(const std::string& text, FuzzInput& in) {
  serial::LineSettings line;
  line.baud = 1 + in.U16();
  line.byteSize = static_cast<uint8_t>(5 + in.Byte() % 4);
  line.parity = static_cast<uint8_t>(in.Byte() % 5);
  line.stopBits = static_cast<uint8_t>(in.Byte() % 3);
  const serial::LineSettings before = line;
  if (!ParseCommSettings(text.c_str(), line)) {
    FUZZ_CHECK(Same(line, before), "a refused text changed the line: " + text);
    return;
  }
  const std::string shown = text + " -> " + Show(line);
  FUZZ_CHECK(line.baud > 0, shown);
  FUZZ_CHECK(line.byteSize >= 5 && line.byteSize <= 8, shown);
  FUZZ_CHECK(line.parity <= serial::SPACEPARITY, shown);
  FUZZ_CHECK(line.stopBits == serial::ONESTOPBIT || line.stopBits == serial::ONE5STOPBITS ||
                 line.stopBits == serial::TWOSTOPBITS,
             shown);
  // The keyed form of the result reads back as the same line.
  static const char* parities = "NOEMS";
  static const char* stops[] = {"1", "1.5", "2"};
  const std::string keyed = "baud=" + std::to_string(line.baud) + " parity=" + parities[line.parity] +
                            " data=" + std::to_string(line.byteSize) + " stop=" + stops[line.stopBits];
  serial::LineSettings again;
  FUZZ_CHECK(ParseCommSettings(keyed.c_str(), again) && Same(again, line), shown + " / " + keyed);
}

void CheckChipNumbers(const std::string& text, FuzzInput& in) {
  const auto numbers = SplitChipNumbers(text);
  // Each field of the line reads as the same item read alone.
  size_t start = 0;
  for (size_t i = 0; i < numbers.size() && start <= text.size(); ++i) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    FUZZ_CHECK(numbers[i] == ParseLeadingCNumber(item), "field " + std::to_string(i) + " of " + text);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  // A number the program could have written reads back as itself.
  const uint32_t u = in.U32();
  const int32_t v = static_cast<int32_t>(u);
  char hex[16], oct[16];
  std::snprintf(hex, sizeof hex, "0x%x", u);
  std::snprintf(oct, sizeof oct, "0%o", u);
  FUZZ_CHECK(ParseLeadingCNumber(std::to_string(v)) == v, std::to_string(v));
  FUZZ_CHECK(ParseLeadingCNumber(hex) == v, hex);
  FUZZ_CHECK(ParseLeadingCNumber(oct) == v, oct);
  FUZZ_CHECK(ParseLeadingCNumber(" \t" + std::to_string(v) + "junk") == v, std::to_string(v) + "junk");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const std::string text = in.Text(128);
  CheckPortSettings(text, in);
  CheckChipNumbers(text, in);
  return 0;
}
