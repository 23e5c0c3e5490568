// The table that ends a run over several ports, a station or a run with a report.
#include "cli/CliBoards.h"

#include "cli/CliBoardConsole.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Row(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                const std::string& e, size_t nameWidth) {
  char line[256];
  std::snprintf(line, sizeof line, "%-*s  %-11s  %10s  %8s  %s", static_cast<int>(nameWidth), a.c_str(), b.c_str(),
                c.c_str(), d.c_str(), e.c_str());
  return line;
}

size_t NameWidth(const std::vector<BoardPort>& ports) {
  size_t w = 4;
  for (const auto& p : ports) w = std::max(w, p.name.size());
  return w;
}

void PrintResults(CBoardConsole& console, const std::vector<BoardPort>& ports,
                  const std::vector<BoardRunSummary>& results) {
  const size_t w = NameWidth(ports);
  console.PrintLine(Row("port", "result", "bytes", "seconds", "verify", w));
  for (size_t i = 0; i < ports.size(); ++i) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.2f", results[i].seconds);
    console.PrintLine(
        Row(ports[i].name, results[i].result, std::to_string(results[i].bytes), secs, results[i].verify, w));
  }
}

void PrintCounts(CBoardConsole& console, const std::vector<BoardPort>& ports, const std::vector<StationCounts>& counts) {
  const size_t w = NameWidth(ports);
  console.PrintLine(Row("port", "last", "passed", "failed", "", w));
  for (size_t i = 0; i < ports.size(); ++i) {
    const auto& c = counts[i];
    console.PrintLine(Row(ports[i].name, c.last.result.empty() ? "-" : c.last.result, std::to_string(c.passed),
                          std::to_string(c.failed), "", w));
  }
}

}  // namespace

bool WantsBoardRunner(const CliOptions& o) { return o.ports.size() > 1 || o.loop || !o.reportFile.empty(); }

void PrintSummary(CBoardConsole& console, const std::vector<BoardPort>& boards, bool station,
                  const CProduction& production) {
  if (station)
    PrintCounts(console, boards, production.Counts());
  else
    PrintResults(console, boards, production.Results());
}
