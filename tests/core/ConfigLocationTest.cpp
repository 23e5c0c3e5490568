// Where the programs look for their configuration, and how the user's own
// folder is made from an installation's defaults.
#include "core/ConfigLocation.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// An installed layout: <root>/bin/ with the defaults in <root>/share/tqupdater/config.
class ConfigLocationTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(root.File("bin"));
    fs::create_directories(root.File("share/tqupdater/config"));
    root.Write("share/tqupdater/config/cfg.ini", "[Setting]\nPort=0\n");
    root.Write("share/tqupdater/config/boot.bin", "boot");
    root.Write("share/tqupdater/config/flash.bin", "flash");
  }
  ConfigSearch Search() const { return {"", root.File("bin") + "/", "", home.Path()}; }
  std::string UserDir() const { return home.Path() + "/.config/tqupdater/"; }

  TempDir root;
  TempDir home;
};

TEST_F(ConfigLocationTest, CommandLineThenBesideTheExecutableThenTheUserFolder) {
  ConfigSearch s = Search();
  s.explicitDir = "/some/where";
  EXPECT_EQ(LocateConfig(s).dir, "/some/where/");
  EXPECT_EQ(LocateConfig(s).source, ConfigSource::CommandLine);

  // config/ beside the executable counts only when it holds cfg.ini.
  s.explicitDir.clear();
  fs::create_directories(root.File("bin/config"));
  EXPECT_EQ(LocateConfig(s).source, ConfigSource::UserFolder);
  root.Write("bin/config/cfg.ini", "");
  const ConfigLocation beside = LocateConfig(s);
  EXPECT_EQ(beside.source, ConfigSource::BesideExecutable);
  EXPECT_EQ(beside.dir, root.File("bin") + "/config/");
}

TEST_F(ConfigLocationTest, UserFolderIsMadeFromTheDefaultsAndKeepsTheUsersFiles) {
  const ConfigLocation first = LocateConfig(Search());
  EXPECT_EQ(first.source, ConfigSource::UserFolder);
  EXPECT_EQ(first.dir, UserDir());
  EXPECT_TRUE(first.problem.empty()) << first.problem;
  EXPECT_EQ(TempDir::Read(UserDir() + "cfg.ini"), "[Setting]\nPort=0\n");
  EXPECT_EQ(TempDir::Read(UserDir() + "flash.bin"), "flash");

  // The user's own changes survive; a file the user removed comes back.
  home.Write(".config/tqupdater/cfg.ini", "[Setting]\nPort=3\n");
  fs::remove(UserDir() + "boot.bin");
  LocateConfig(Search());
  EXPECT_EQ(TempDir::Read(UserDir() + "cfg.ini"), "[Setting]\nPort=3\n");
  EXPECT_EQ(TempDir::Read(UserDir() + "boot.bin"), "boot");
}

TEST_F(ConfigLocationTest, XdgConfigHomeWinsWhenAbsolute) {
  TempDir xdg;
  ConfigSearch s = Search();
  s.xdgConfigHome = xdg.Path();
  EXPECT_EQ(LocateConfig(s).dir, xdg.Path() + "/tqupdater/");
  s.xdgConfigHome = "relative/dir";  // not a usable base: ignored
  EXPECT_EQ(LocateConfig(s).dir, UserDir());
}

TEST_F(ConfigLocationTest, AUserFolderThatCannotBeMadeFallsBackToTheDefaults) {
  ConfigSearch s = Search();
  s.home = home.Write("not-a-folder", "x");  // a file where the folder should go
  const ConfigLocation got = LocateConfig(s);
  EXPECT_EQ(got.source, ConfigSource::Fallback);
  EXPECT_EQ(fs::path(got.dir).lexically_normal(), fs::path(root.File("share/tqupdater/config/")).lexically_normal());
  EXPECT_NE(got.problem.find("can't create"), std::string::npos) << got.problem;

  s.home.clear();  // no home at all: config/ beside the executable, as a portable copy would have
  EXPECT_EQ(LocateConfig(s).dir, root.File("bin") + "/config/");
}

}  // namespace
