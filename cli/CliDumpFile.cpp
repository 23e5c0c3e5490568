#include "cli/CliDumpFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

std::string DumpTargetPath(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  const auto resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

std::string DumpPartPath(const std::string& target) { return target + ".part"; }

bool FinishDump(const std::string& part, const std::string& target, std::string& error) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) ::chmod(part.c_str(), st.st_mode & 07777);
  if (std::rename(part.c_str(), target.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}
