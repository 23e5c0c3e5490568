// Writes the sample boot image and flash loader that config/ ships with:
//   chipsim_images DIR   ->  DIR/boot.bin (1536 bytes), DIR/flash.bin (10000 bytes)
// The contents stand in for chip code: a short header, then bytes from a
// fixed linear congruential sequence, so every run writes the same files.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> MakeImage(const char* magic, size_t size, uint32_t seed) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = static_cast<uint8_t>(state >> 24);
  }
  // Header: magic, 32-bit big-endian size.
  for (size_t i = 0; i < 4; ++i) image[i] = static_cast<uint8_t>(magic[i]);
  for (size_t i = 0; i < 4; ++i) image[4 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  // The boot block is padded with 0x55; an image that ended in 0x55 would
  // hide a truncation.
  if (image.back() == 0x55) image.back() = 0xAA;
  return image;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* out = std::fopen(path.c_str(), "wbe");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: chipsim_images DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (!WriteFile(dir + "/boot.bin", MakeImage("TQBT", 1536, 0x2210u)) ||
      !WriteFile(dir + "/flash.bin", MakeImage("TQFL", 10000, 0x3110u))) {
    std::fprintf(stderr, "chipsim_images: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
