// The bytes of the line protocol between the host and the chip's boot loader
// and flash loader. The update engine sends and reads them; the chip
// simulator reads and sends them; both take them from here.
#pragma once

#include <cstddef>
#include <cstdint>

// Single bytes. The chip's acknowledge doubles as the boot loader's request
// for an update; the host answers the request with BYTE_UPDATE_REPLY and
// acknowledges each 4096 bytes of a dump with BYTE_ACK.
inline constexpr uint8_t BYTE_ACK = 'X';
inline constexpr uint8_t BYTE_NAK = 'Y';           // the block arrived damaged: send it again
inline constexpr uint8_t BYTE_ERASE_TICK = 'E';    // one flash sector erased
inline constexpr uint8_t BYTE_PROGRAM_TICK = 'P';  // one flash sector programmed
inline constexpr uint8_t BYTE_UPDATE_REPLY = 0x18;

// The boot loader's downloads, in order: the boot block (a boot image of at
// most BOOT_BLOCK_SIZE bytes, filled up with BOOT_BLOCK_FILL), the chip
// settings, the flash loader's length (32 bits, big-endian) and its body.
inline constexpr size_t BOOT_BLOCK_SIZE = 2048;
inline constexpr uint8_t BOOT_BLOCK_FILL = 0x55;
inline constexpr size_t CHIP_SETTINGS_SIZE = 10;
inline constexpr size_t LOADER_LENGTH_SIZE = 4;

// The flash loader's frames: FRAME_START, type, 16-bit big-endian payload
// length, payload, 16-bit big-endian checksum of the payload.
inline constexpr uint8_t FRAME_START = 0xFF;
inline constexpr uint8_t FRAME_CONTROL_INFO = 2;
inline constexpr uint8_t FRAME_APP_DATA = 3;
inline constexpr uint8_t FRAME_ERASE = 4;
inline constexpr uint8_t FRAME_PROGRAM = 5;
inline constexpr uint8_t FRAME_DUMP = 6;
inline constexpr size_t FRAME_OVERHEAD = 6;
inline constexpr size_t FRAME_MAX_PAYLOAD = 4096;

// The line speed from the flash loader on (the boot loader's blocks go at
// the operator's speed).
inline constexpr uint32_t LOADER_BAUD = 115200;

// Erase and program tick once per sector; a dump waits for the host's
// acknowledge after each sector's worth of bytes.
inline constexpr size_t FLASH_SECTOR_SIZE = 4096;
