// Frames on the wire: 0xFF, type, 16-bit big-endian payload length, payload,
// 16-bit big-endian checksum of the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint8_t FRAME_START = 0xFF;
inline constexpr uint8_t FRAME_CONTROL_INFO = 2;
inline constexpr uint8_t FRAME_APP_DATA = 3;
inline constexpr uint8_t FRAME_ERASE = 4;
inline constexpr uint8_t FRAME_PROGRAM = 5;
inline constexpr uint8_t FRAME_DUMP = 6;
inline constexpr size_t FRAME_OVERHEAD = 6;

// The chip's nibble checksum. Both steps use only the low four bits of each
// byte, so the high nibble of a byte never enters the result.
uint16_t FrameChecksum(const uint8_t* payload, size_t length);

// Builds one complete frame. The payload length must fit 16 bits.
std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* payload, size_t length);
