// orvistarctl log: the operations log of this user, every device operation
// the window and orvistarctl ran, oldest first.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "batch/operations_log.h"
#include "cli/cli.h"
#include "cli/device_batch.h"
#include "discovery/result_format.h"

namespace orv::cli {
namespace {

const char kHelp[] =
    "Usage: orvistarctl log [--mac MAC] [--since DATE] [--json]\n\n"
    "Prints the operations log (${XDG_STATE_HOME:-$HOME/.local/state}/orvistar/\n"
    "operations.jsonl): one line per device operation with time, operation, MAC,\n"
    "address, model, result code, result text and seconds.\n\n"
    "  --mac MAC     only this device\n"
    "  --since DATE  only operations at or after DATE, local time:\n"
    "                YYYY-MM-DD, \"YYYY-MM-DD HH:MM\" or \"YYYY-MM-DD HH:MM:SS\"\n"
    "  --json        print the records as a JSON array\n\n"
    "Exit status: 0, also for an empty or missing log; 2 bad arguments.\n";

// "YYYY-MM-DD[ HH:MM[:SS]]" (a "T" also separates) in the log's own form, or "".
std::string SinceKey(std::string text) {
  if (text.size() > 10 && (text[10] == ' ' || text[10] == 'T')) text[10] = 'T';
  static const char* kShapes[] = {"dddd-dd-dd", "dddd-dd-ddTdd:dd", "dddd-dd-ddTdd:dd:dd"};
  for (const char* shape : kShapes) {
    if (text.size() != std::strlen(shape)) continue;
    bool ok = true;
    for (std::size_t i = 0; i < text.size() && ok; ++i)
      ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == shape[i];
    if (ok) return text;
  }
  return "";
}

int RunLog(const std::vector<std::string>& args) {
  CLI::App app{"orvistarctl log"};
  app.set_help_flag();
  std::string macText, since;
  bool json = false;
  app.add_option("--mac", macText)->allow_extra_args(false);
  app.add_option("--since", since)->allow_extra_args(false);
  app.add_flag("--json", json);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  std::string mac;
  if (app.count("--mac")) {
    auto m = NormalizeMacText(macText);
    if (!m) throw UsageError("'" + macText + "' is not a MAC address (e.g. 00-0A-1B-2C-3D-4E)");
    mac = *m;
  }
  std::string sinceKey;
  if (app.count("--since")) {
    sinceKey = SinceKey(since);
    if (sinceKey.empty()) throw UsageError("--since needs YYYY-MM-DD or \"YYYY-MM-DD HH:MM[:SS]\", not '" + since + "'");
  }

  nlohmann::json out = nlohmann::json::array();
  for (auto& r : OperationsLog::Read(OperationsLog::DefaultPath())) {
    const std::string time = r.value("time", "");
    if (!mac.empty() && r.value("mac", "") != mac) continue;
    if (!sinceKey.empty() && time.substr(0, sinceKey.size()) < sinceKey) continue;
    out.push_back(std::move(r));
  }
  if (json) {
    std::cout << out.dump(2) << "\n";
    return kExitOk;
  }
  for (const auto& r : out) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.1f s", r.value("seconds", 0.0));
    std::string time = r.value("time", "");
    if (time.size() >= 19) time = time.substr(0, 10) + " " + time.substr(11, 8);
    std::cout << time << "  " << r.value("operation", "") << "  " << r.value("mac", "") << "  "
              << r.value("address", "") << "  " << TerminalSafeText(r.value("model", "")) << "  "
              << r.value("result", -1) << "  " << TerminalSafeText(r.value("text", "")) << "  " << secs << "\n";
  }
  return kExitOk;
}

CliCommand reg{{"log", "show the operations log", kHelp, RunLog}};

}  // namespace
}  // namespace orv::cli
