#include "update/Frame.h"

namespace {
// Entry i is i * 0x1081: the nibble table of the reflected CCITT polynomial.
constexpr uint16_t kNibbleTable[16] = {0x0000, 0x1081, 0x2102, 0x3183, 0x4204, 0x5285, 0x6306, 0x7387,
                                       0x8408, 0x9489, 0xA50A, 0xB58B, 0xC60C, 0xD68D, 0xE70E, 0xF78F};
}  // namespace

uint16_t FrameChecksum(const uint8_t* payload, size_t length) {
  uint16_t r = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t d = payload[i];
    const uint16_t r1 = static_cast<uint16_t>((r >> 4) ^ kNibbleTable[(r ^ d) & 0x0F]);
    r = static_cast<uint16_t>((r1 >> 8) ^ kNibbleTable[((r1 >> 4) ^ d) & 0x0F]);
  }
  return r;
}

std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* payload, size_t length) {
  std::vector<uint8_t> frame;
  frame.reserve(length + FRAME_OVERHEAD);
  frame.push_back(FRAME_START);
  frame.push_back(type);
  frame.push_back(static_cast<uint8_t>(length >> 8));
  frame.push_back(static_cast<uint8_t>(length));
  frame.insert(frame.end(), payload, payload + length);
  const uint16_t sum = FrameChecksum(payload, length);
  frame.push_back(static_cast<uint8_t>(sum >> 8));
  frame.push_back(static_cast<uint8_t>(sum));
  return frame;
}
