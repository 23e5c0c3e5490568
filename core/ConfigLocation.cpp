#include "core/ConfigLocation.h"

#include "core/Config.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty()) return "./";
  if (dir.back() != '/') dir.push_back('/');
  return dir;
}

std::string UserFolder(const ConfigSearch& s) {
  if (!s.xdgConfigHome.empty() && s.xdgConfigHome.front() == '/') return WithSlash(s.xdgConfigHome) + "tqupdater/";
  if (!s.home.empty()) return WithSlash(s.home) + ".config/tqupdater/";
  return {};
}

// Copies every default the user does not have yet; returns what failed.
std::string FillFromDefaults(const std::string& userDir, const std::string& defaultsDir) {
  std::error_code ec;
  fs::create_directories(userDir, ec);
  if (ec) return "can't create " + userDir + ": " + ec.message();
  for (const char* name : {"cfg.ini", "boot.bin", "flash.bin"}) {
    const fs::path from = fs::path(defaultsDir) / name;
    const fs::path to = fs::path(userDir) / name;
    if (fs::exists(to, ec) || !fs::is_regular_file(from, ec)) continue;
    fs::copy_file(from, to, fs::copy_options::skip_existing, ec);
    if (ec) return "can't copy " + from.string() + " to " + to.string() + ": " + ec.message();
  }
  return {};
}

}  // namespace

std::string InstalledDefaultsDir(const std::string& exeDir) {
  return WithSlash(exeDir) + "../share/tqupdater/config/";
}

ConfigLocation LocateConfig(const ConfigSearch& s) {
  if (!s.explicitDir.empty()) return {WithSlash(s.explicitDir), ConfigSource::CommandLine, {}};
  const std::string beside = WithSlash(s.exeDir) + "config/";
  std::error_code ec;
  if (fs::is_regular_file(beside + "cfg.ini", ec)) return {beside, ConfigSource::BesideExecutable, {}};
  const std::string user = UserFolder(s);
  if (user.empty()) return {beside, ConfigSource::Fallback, "no home folder for a configuration"};
  const std::string defaults = InstalledDefaultsDir(s.exeDir);
  std::string problem = FillFromDefaults(user, defaults);
  // A user folder that cannot be made still leaves the shipped defaults to read.
  if (!problem.empty() && !fs::is_regular_file(user + "cfg.ini", ec) && fs::is_regular_file(defaults + "cfg.ini", ec))
    return {defaults, ConfigSource::Fallback, std::move(problem)};
  return {user, ConfigSource::UserFolder, std::move(problem)};
}

ConfigLocation LocateConfigForProcess(const std::string& explicitDir) {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  return LocateConfig({explicitDir, ExecutableDirectory(), env("XDG_CONFIG_HOME"), env("HOME")});
}
