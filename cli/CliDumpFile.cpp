#include "cli/CliDumpFile.h"

#include "core/platform/HostFiles.h"

#include <filesystem>

std::string DumpTargetPath(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  const auto resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

std::string DumpPartPath(const std::string& target) { return target + ".part"; }

bool FinishDump(const std::string& part, const std::string& target, std::string& error) {
  return host::MoveFileOver(part, target, error);
}
