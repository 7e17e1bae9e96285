// orvistarctl: the command-line front end. It shares the logic libraries with
// the desktop program and never writes the settings unless a command says so.
#include <cstdio>
#include <iostream>
#include <map>

#include "cli/cli.h"
#include "common/trace.h"

namespace orv::cli {
namespace {
std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}
GlobalOptions g_globals;

void PrintOverview(std::ostream& out) {
  out << "Usage: orvistarctl [--trace] COMMAND [OPTIONS]\n\n"
         "Finds and maintains K7710 and Tramix 4410 RTUs on the local network.\n\n"
         "Commands:\n";
  std::map<std::string, std::string> sorted;
  for (const auto& c : Registry()) sorted[c.name] = c.summary;
  for (const auto& [name, summary] : sorted) {
    out << "  " << name << std::string(name.size() < 12 ? 12 - name.size() : 1, ' ') << summary
        << "\n";
  }
  out << "\nGlobal options:\n"
         "  --trace     write the diagnostic trace (connects, requests, exchanges) to stderr\n"
         "  -h, --help  show this help; `orvistarctl COMMAND --help` explains a command\n";
}
}  // namespace

void RegisterCommand(CommandInfo info) { Registry().push_back(std::move(info)); }
const std::vector<CommandInfo>& Commands() { return Registry(); }
const GlobalOptions& Globals() { return g_globals; }

bool TakeOption(const std::vector<std::string>& args, size_t& i, const std::string& name,
                std::string& value) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
    value = args[++i];
    return true;
  }
  if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
    value = a.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace orv::cli

int main(int argc, char** argv) {
  using namespace orv::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--trace") {
      g_globals.trace = true;
    } else if (args[i] == "-h" || args[i] == "--help") {
      PrintOverview(std::cout);
      return kExitOk;
    } else {
      break;
    }
  }
  if (i >= args.size()) {
    PrintOverview(std::cerr);
    return kExitUsage;
  }
  if (g_globals.trace) {
    orv::SetTraceSink([](const std::string& line) {
      std::fwrite(line.data(), 1, line.size(), stderr);
    });
  }
  const std::string name = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  for (const auto& c : Commands()) {
    if (c.name != name) continue;
    for (const auto& a : rest) {
      if (a == "-h" || a == "--help") {
        std::cout << c.help;
        return kExitOk;
      }
    }
    try {
      return c.run(rest);
    } catch (const UsageError& e) {
      std::cerr << "orvistarctl " << name << ": " << e.what() << "\n"
                << "Try 'orvistarctl " << name << " --help'.\n";
      return kExitUsage;
    } catch (const std::exception& e) {
      std::cerr << "orvistarctl " << name << ": " << e.what() << "\n";
      return kExitFailed;
    }
  }
  std::cerr << "orvistarctl: unknown command '" << name << "'\n";
  PrintOverview(std::cerr);
  return kExitUsage;
}
