// Frames on the wire: 0xFF, type, 16-bit big-endian payload length, payload,
// 16-bit big-endian checksum of the payload. The frame bytes themselves are
// in Protocol.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/Protocol.h"

// The chip's nibble checksum. Both steps use only the low four bits of each
// byte, so the high nibble of a byte never enters the result.
uint16_t FrameChecksum(const uint8_t* payload, size_t length);

// Builds one complete frame. The payload length must fit 16 bits.
std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* payload, size_t length);
