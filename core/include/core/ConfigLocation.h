// Where the programs find cfg.ini, boot.bin and flash.bin.
//
//   1. the folder given on the command line (-c DIR);
//   2. config/ beside the executable when it holds cfg.ini (a portable copy
//      or the build tree);
//   3. the user's own folder, $XDG_CONFIG_HOME/tqupdater (default
//      ~/.config/tqupdater), created on first use from the defaults that an
//      installation ships in <prefix>/share/tqupdater/config; a file the
//      user already has is never overwritten.
// The window writes its Setting section only into the folder it read from.
#pragma once

#include <string>

struct ConfigSearch {
  std::string explicitDir;    // -c DIR; empty when not given
  std::string exeDir;         // the executable's folder, ending in '/'
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
  std::string home;           // $HOME, may be empty
};

enum class ConfigSource { CommandLine, BesideExecutable, UserFolder, Fallback };

struct ConfigLocation {
  std::string dir;  // ending in '/'
  ConfigSource source = ConfigSource::Fallback;
  // Set when the user folder could not be made or filled: what failed and
  // why. The programs go on with what they have.
  std::string problem;
};

// The search above, with the defaults taken from `<exeDir>/../share/tqupdater/config`.
ConfigLocation LocateConfig(const ConfigSearch& search);

// The search for this process: its executable and its environment.
ConfigLocation LocateConfigForProcess(const std::string& explicitDir);

// The defaults an installation ships, for the executable in `exeDir`.
std::string InstalledDefaultsDir(const std::string& exeDir);
