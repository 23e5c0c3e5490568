#include "cli/CliArgs.h"

#include "cli/CliBoards.h"
#include "prod/BoardNames.h"
#include "prod/BoardStatus.h"
#include "app/PortText.h"
#include "app/DumpApp.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <utility>
#include <vector>

namespace {

void AddOptions(CLI::App& app, CliOptions& o) {
  app.add_option("-c,--config", o.configDir, "folder with cfg.ini, boot.bin and flash.bin (default: see CONFIGURATION)");
  app.add_option("-p,--port", o.ports,
                 "a device path (/dev/ttyUSB0) or COMn / n (default: the remembered Port + 1); repeat it or give a "
                 "comma list to run the command on several boards at once")
      ->allow_extra_args(false)
      ->type_name("PORT");
  app.add_flag("--loop", o.loop,
               "station mode: after each board, wait on its port for the next one, until Ctrl-C");
  app.add_option("--report", o.reportFile, "append one JSON record per board run to FILE (JSON Lines), a regular file; a record that cannot be "
                 "written makes the exit status 1")
      ->type_name("FILE");
  app.add_option("-b,--baud", o.baud, "line speed of the boot stages (default: the remembered BaudRate entry)");
  app.add_option("--chip", o.chip, "chip model: list position or name");
  app.add_option("--ram-type", o.ramType, "RAM type: list position or entry text");
  app.add_option("--ram-size", o.ramSize, "RAM size: list position or entry text");
  app.add_option("--xtal", o.xtal,
                 "crystal: list position or entry text; also chooses the baud entry at its position, unless -b");
  app.add_option("--flash-type", o.flashType, "flash or spi-flash");
  app.add_option("--flash-model", o.flashModel, "flash model: list position or name");
  app.add_option("--timeout", o.timeoutSeconds, "give up when the update has made no progress for this long: no new stage, acknowledged chunk, tick or dump data; the chip's console text does not count (0: wait for ever)")
      ->default_val(60)
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            // Finite and at most about 11 days, so the deadline arithmetic cannot overflow.
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e6)
              return "must be a number of seconds from 0 to 1000000";
            return {};
          },
          "SECONDS"));
  app.add_flag("-q,--quiet", o.quiet, "no progress bar and no console echo");
  app.add_option("--log", o.logFile, "also append every log line, with a time stamp, to FILE");
}

// The subcommands, each with the command it stands for.
// `ports` stands for no job: nothing in its place.
std::vector<std::pair<CLI::App*, std::optional<JobCommand>>> AddCommands(CLI::App& app, CliOptions& o) {
  auto* program = app.add_subcommand("program", "send IMAGE, erase and program it at BASE");
  program->add_option("BASE", o.base, "flash address")->required();
  program->add_option("IMAGE", o.image, "application image")->required();
  program->add_flag("--verify,!--no-verify", o.verify,
                    "read the range back in the same session and compare (the default; --no-verify skips it)");
  auto* erase = app.add_subcommand("erase", "erase LENGTH bytes at BASE");
  erase->add_option("BASE", o.base)->required();
  erase->add_option("LENGTH", o.length)->required();
  auto* dump = app.add_subcommand("dump", "read LENGTH bytes of flash at BASE into FILE");
  dump->add_option("BASE", o.base)->required();
  dump->add_option("LENGTH", o.length)->required();
  dump->add_option("FILE", o.dumpFile)->required();
  dump->add_flag("--verify", o.verifyDump,
                 "read the range a second time and compare; a block that differs is read again until two reads "
                 "agree. Without it a dump is only as good as the line: a byte changed on the way goes unnoticed");
  dump->add_flag("--resume", o.resume,
                 "go on with FILE.part left by a dump of the same BASE and LENGTH: read again from one block "
                 "before its end, and go on only if that block is the same as the one held");
  auto* batch = app.add_subcommand("batch", "run the Bat list of cfg.ini");
  auto* ports = app.add_subcommand("ports", "list this machine's serial ports");
  for (auto* sub : app.get_subcommands({})) sub->fallthrough();
  return {{program, JobCommand::Program},
          {erase, JobCommand::Erase},
          {dump, JobCommand::Dump},
          {batch, JobCommand::Batch},
          {ports, std::nullopt}};
}

// The -p values split at their commas. An empty entry is refused, never
// dropped: `-p "$PORT"` with an empty variable must not fall back to the
// remembered port, nor a list lose a board.
std::optional<int> SplitPortOptions(CliOptions& o, std::ostream& err) {
  if (o.ports.empty()) return std::nullopt;
  std::vector<BoardPort> boards;
  if (auto why = SplitPorts(o.ports, boards)) {
    err << "tqupdate: -p: " << *why << "\n";
    return ExitStatus(RefusedRun(RunRefusal::BadOption));
  }
  o.ports.clear();
  for (const auto& b : boards) o.ports.push_back(b.port);
  return std::nullopt;
}

// An option given an empty value (`--report "$REPORT"` with the variable
// unset) is refused: read as not given, it would fall back to a default and
// the run would go on without what was asked for.
std::optional<int> RefuseEmptyValues(const CLI::App& app, std::ostream& err) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_expected_min() == 0) continue;  // a flag
    for (const std::string& value : option->results())
      if (value.empty()) {
        err << "tqupdate: " << option->get_name() << ": an empty value\n";
        return ExitStatus(RefusedRun(RunRefusal::BadOption));
      }
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> ParseCliArguments(int argc, const char* const* argv, CliOptions& o, std::ostream& out,
                                     std::ostream& err) {
  CLI::App app{"Brings a set-top-box decoder chip up from its boot ROM over a serial line and programs, "
               "erases or dumps its flash.",
               "tqupdate"};
  app.set_version_flag("--version", std::string("tqupdate " TQ_VERSION " (") + APP_VERSION_BANNER + ")");
  app.footer(
      "BASE and LENGTH: decimal or 0x-hexadecimal, 32 bits.\n"
      "CONFIGURATION: cfg.ini, boot.bin and flash.bin come from -c DIR; else from config/ beside the\n"
      "executable when it holds cfg.ini; else from $XDG_CONFIG_HOME/tqupdater (~/.config/tqupdater),\n"
      "made on first use from the installed defaults in <prefix>/share/tqupdater/config.\n"
      "stdout: the log lines of the update. stderr: the chip's console text, messages and progress.\n"
      "Exit status: 0 done; 1 the update failed, or a --report record could not be written; 2 bad usage\n"
      "or configuration (an option given an empty value, an empty entry in a -p list, a ChipModel line\n"
      "that is no list of numbers, ...); 3 the port could not be opened; 4 no progress within --timeout;\n"
      "130 interrupted by Ctrl-C, SIGTERM or SIGHUP (a dump keeps what it received in FILE.part).\n"
      "SEVERAL PORTS: the command runs on every board at once; log lines start with the board's name\n"
      "(/dev/ttyUSB0 -> ttyUSB0, /dev/pts/3 -> pts-3, 3 -> COM3) and a table ends the run. A dump needs\n"
      "{port} in FILE (replaced by the name), and with --loop also {n} (the board's number on its port).\n"
      "The exit status is 0 when every board succeeded, else that of the first failed board in the order\n"
      "the ports were given; 130 after Ctrl-C, which lets each board finish its block in flight. --loop\n"
      "ends only with Ctrl-C (130), when the plan is refused, or when no port can write its --report record.");
  app.require_subcommand(1);
  app.fallthrough();

  AddOptions(app, o);
  const auto commands = AddCommands(app, o);
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
    return ExitStatus(RefusedRun(RunRefusal::BadOption));
  }
  for (const auto& [sub, command] : commands)
    if (sub->parsed()) {
      o.listPorts = !command;
      if (command) o.command = *command;
    }
  if (auto status = SplitPortOptions(o, err)) return status;
  return RefuseEmptyValues(app, err);
}
