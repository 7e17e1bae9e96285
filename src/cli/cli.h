#pragma once
// Sub-command registry of orvistarctl. Each cmd_*.cpp registers its commands
// with a static CliCommand object, so commands live in separate files.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::cli {

// Exit codes shared by all sub-commands.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the operation ran but failed (or a device failed)
constexpr int kExitUsage = 2;    // bad arguments or input
constexpr int kExitStopped = 3;  // interrupted by the user (Ctrl-C)

struct CommandInfo {
  std::string name;     // "search"
  std::string summary;  // one line for the overview
  std::string help;     // full text for `orvistarctl NAME --help`
  // args excludes the program and command name; global options are removed.
  std::function<int(const std::vector<std::string>& args)> run;
};

void RegisterCommand(CommandInfo info);
const std::vector<CommandInfo>& Commands();

struct CliCommand {
  explicit CliCommand(CommandInfo info) { RegisterCommand(std::move(info)); }
};

// Global options, parsed before the sub-command.
struct GlobalOptions {
  bool trace = false;  // --trace: trace hook to stderr
};
const GlobalOptions& Globals();

// Small helpers for argument parsing: "--opt VALUE" or "--opt=VALUE".
// Returns true and advances i when args[i] is the option; throws UsageError
// when the value is missing.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
bool TakeOption(const std::vector<std::string>& args, size_t& i, const std::string& name,
                std::string& value);

}  // namespace orv::cli
