// Baud rates on Linux through the termios2 interface, which takes any rate
// the driver can make, not only the fixed B-constants. Kept apart from the
// rest of the POSIX code because <asm/termbits.h> and <termios.h> cannot be
// included together.
#pragma once

#include <cstdint>

namespace serial::linux_speed {

bool SetSpeed(int fd, uint32_t baud);
bool GetSpeed(int fd, uint32_t& baud);

}  // namespace serial::linux_speed
