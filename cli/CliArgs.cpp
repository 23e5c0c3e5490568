#include "cli/CliArgs.h"

#include "app/DumpApp.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>

namespace {

// Finite and at most about 11 days, so the deadline arithmetic cannot overflow.
std::string CheckSeconds(std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e6)
    return "must be a number of seconds from 0 to 1000000";
  return {};
}

void AddOptions(CLI::App& app, CliOptions& o) {
  app.add_option("-c,--config", o.configDir, "folder with cfg.ini, boot.bin and flash.bin (default: config/ beside the executable)");
  app.add_option("-p,--port", o.port, "a device path (/dev/ttyUSB0) or COMn / n (default: the remembered Port + 1)");
  app.add_option("-b,--baud", o.baud, "line speed of the boot stages (default: the remembered BaudRate entry)");
  app.add_option("--chip", o.chip, "chip model: list position or name");
  app.add_option("--ram-type", o.ramType, "RAM type: list position or entry text");
  app.add_option("--ram-size", o.ramSize, "RAM size: list position or entry text");
  app.add_option("--xtal", o.xtal, "crystal: list position or entry text");
  app.add_option("--flash-type", o.flashType, "flash or spi-flash");
  app.add_option("--flash-model", o.flashModel, "flash model: list position or name");
  app.add_option("--timeout", o.timeoutSeconds, "give up when the chip has sent nothing for this long (0: wait for ever)")
      ->default_val(60)
      ->check(CLI::Validator(CheckSeconds, "SECONDS"));
  app.add_flag("-q,--quiet", o.quiet, "no progress bar and no console echo");
  app.add_option("--log", o.logFile, "also append every log line, with a time stamp, to FILE");
}

void AddCommands(CLI::App& app, CliOptions& o) {
  auto* program = app.add_subcommand("program", "send IMAGE, erase and program it at BASE");
  program->add_option("BASE", o.base, "flash address")->required();
  program->add_option("IMAGE", o.image, "application image")->required();
  program->add_flag("--verify", o.verify, "read the range back in the same session and compare");
  auto* erase = app.add_subcommand("erase", "erase LENGTH bytes at BASE");
  erase->add_option("BASE", o.base)->required();
  erase->add_option("LENGTH", o.length)->required();
  auto* dump = app.add_subcommand("dump", "read LENGTH bytes of flash at BASE into FILE");
  dump->add_option("BASE", o.base)->required();
  dump->add_option("LENGTH", o.length)->required();
  dump->add_option("FILE", o.dumpFile)->required();
  app.add_subcommand("batch", "run the Bat list of cfg.ini");
  app.add_subcommand("ports", "list this machine's serial ports");
  for (auto* sub : app.get_subcommands({})) sub->fallthrough();
}

}  // namespace

std::optional<int> ParseCliArguments(int argc, const char* const* argv, CliOptions& o, std::ostream& out,
                                     std::ostream& err) {
  CLI::App app{"Brings a set-top-box decoder chip up from its boot ROM over a serial line and programs, "
               "erases or dumps its flash.",
               "tqupdate"};
  app.set_version_flag("--version", std::string("tqupdate 1.22 (") + APP_VERSION_BANNER + ")");
  app.footer(
      "BASE and LENGTH: decimal or 0x-hexadecimal, 32 bits.\n"
      "stdout: the log lines of the update. stderr: the chip's console text, messages and progress.\n"
      "Exit status: 0 done; 1 the update failed; 2 bad usage or configuration; 3 the port could not be\n"
      "opened; 4 the chip stayed silent past --timeout; 130 interrupted.");
  app.require_subcommand(1);
  app.fallthrough();
  AddOptions(app, o);
  AddCommands(app, o);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    return EXIT_USAGE;
  }
  o.command = app.get_subcommands().front()->get_name();
  return std::nullopt;
}
