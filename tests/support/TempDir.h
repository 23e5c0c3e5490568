// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class TempDir {
public:
  TempDir() {
    // A fresh folder of a random name: create_directory says false when the
    // name is taken, so a clash only costs another try (mkdtemp is POSIX only).
    std::random_device random;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "tqtest.%08x%08x", random(), random());
      const auto path = std::filesystem::temp_directory_path() / name;
      std::error_code ec;
      if (std::filesystem::create_directory(path, ec)) m_path = path.string();
    }
    if (m_path.empty()) std::abort();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(File(name), std::ios::binary) << content;
    return File(name);
  }
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(File(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return File(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::vector<uint8_t> ReadBytes(const std::string& path) {
    const std::string text = Read(path);
    return std::vector<uint8_t>(text.begin(), text.end());
  }

private:
  std::string m_path;
};
