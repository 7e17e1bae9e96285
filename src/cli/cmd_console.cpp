// orvistarctl console MAC: the window's device console in a terminal. Finds
// the device, gives it its route and static ARP entry, runs the telnet client
// in the foreground and removes the entries when the client ends, also when
// the user ends it with Ctrl-C or the run is told to stop.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/device_batch.h"
#include "cli/device_search.h"
#include "console/console_command.h"
#include "discovery/ip_check.h"
#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"

extern char** environ;

namespace orv::cli {
namespace {

constexpr int kConsoleRouteWaitMs = 30000;

const char kHelp[] =
    "Usage: orvistarctl console MAC [--nic ADDR] [--cycles T] [--client COMMAND]\n\n"
    "Opens a telnet session to the device with this MAC address in this terminal.\n"
    "The device is found with a search first; it gets a host route (and static ARP\n"
    "entry) while the session lasts, removed when the client ends.\n\n"
    "  --nic ADDR        host interface to search on and route through\n"
    "                    (default: the \"NIC_IP\" setting)\n"
    "  --cycles T        search length in one-second rounds (default: \"Search_Timeout\")\n"
    "  --client COMMAND  the client to run, %a standing for the device's address\n"
    "                    (default: \"telnet %a\")\n\n"
    "Exit status: the client's (0 when it ended normally), 1 device not found or the\n"
    "client could not start, 2 bad arguments.\n";

// The stored search length, with a warning when it had to be capped.
int SearchRoundsWarned() {
  std::string warning;
  const int rounds = StoredSearchRounds(&warning);
  if (!warning.empty()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
  return rounds;
}

// Runs argv in the foreground. Ctrl-C from the terminal reaches the client
// directly; a SIGINT, SIGTERM or SIGHUP sent to this process alone is passed on
// to the client, whose end this process always waits for.
int RunClient(const std::vector<std::string>& argv) {
  sigset_t watched, old;
  sigemptyset(&watched);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&watched, s);
  pthread_sigmask(SIG_BLOCK, &watched, &old);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::fprintf(stderr, "orvistarctl console: cannot start %s: %s\n", argv[0].c_str(), std::strerror(rc));
    return -1;
  }
  int status = 0;
  for (;;) {
    const pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) {
      status = -1;
      break;
    }
    siginfo_t info{};
    timespec step{0, 200 * 1000 * 1000};
    const int sig = sigtimedwait(&watched, &info, &step);
    if (sig == SIGINT && info.si_code == SI_KERNEL) continue;  // the terminal's Ctrl-C: the client has it too
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) kill(pid, sig);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

int RunConsole(const std::vector<std::string>& args) {
  CLI::App app{"orvistarctl console"};
  app.set_help_flag();
  std::string macText, nic, cycles, client = "telnet %a";
  app.add_option("MAC", macText);
  app.add_option("--nic", nic)->allow_extra_args(false);
  app.add_option("--cycles", cycles)->allow_extra_args(false);
  app.add_option("--client", client)->allow_extra_args(false);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  if (macText.empty()) throw UsageError("console needs the device's MAC address");
  auto mac = NormalizeMacText(macText);
  if (!mac) throw UsageError("'" + macText + "' is not a MAC address (e.g. 00-0A-1B-2C-3D-4E)");
  std::string error;
  // Checked with a placeholder address so that a bad template fails before the search.
  if (!console::BuildConsoleArgs(client, "0.0.0.0", 0, &error)) throw UsageError("--client: " + error);
  int rounds = SearchRoundsWarned();
  if (app.count("--cycles")) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(cycles.c_str(), &end, 10);
    if (cycles.empty() || *end || errno || v < 1 || v > 100000)
      throw UsageError("--cycles needs a number from 1 to 100000, not '" + cycles + "'");
    rounds = static_cast<int>(v);
  }
  if (app.count("--nic")) {
    nic = TrimIPText(nic);
    if (!ParseIPText(nic)) throw UsageError("--nic '" + nic + "' is not an IPv4 address");
  } else {
    nic = TrimIPText(PeekNicIP());
    if (nic.empty()) {
      std::fprintf(stderr, "orvistarctl console: no usable network interface with an IPv4 address; give --nic ADDR\n");
      return kExitFailed;
    }
  }

  std::vector<IONODE> found;
  if (int rc = SearchDevices("console", nic, rounds, &found); rc != kExitOk) return rc;
  const IONODE* device = nullptr;
  for (const auto& n : found)
    if (n.szMac == *mac) device = &n;
  if (!device) {
    std::fprintf(stderr, "orvistarctl console: %s was not found by the search\n", mac->c_str());
    return kExitFailed;
  }
  const std::string ip = device->szIP;
  const auto argv = console::BuildConsoleArgs(client, ip, 0, &error);
  if (!argv || argv->empty()) throw UsageError("--client: " + (error.empty() ? "empty command" : error));

  bool routed = false;
  if (CanChangeRoutes()) {
    RemoveStaleDeviceRoutes();
    std::string why;
    routed = AddDeviceRoute(nic, ip, device->szMac, &why, kConsoleRouteWaitMs);
    if (!routed) {
      std::fprintf(stderr, "orvistarctl console: %s\n", why.c_str());
      return kExitFailed;
    }
  } else {
    std::fprintf(stderr, "warning: cannot add the device route: %s\n", RouteRightsHint().c_str());
  }
  std::fprintf(stderr, "connecting to %s (%s)\n", ip.c_str(), mac->c_str());
  const int status = RunClient(*argv);
  if (routed) RemoveDeviceRoute(ip);
  RemoveAllDeviceRoutes();
  if (status < 0) return kExitFailed;
  return status;
}

CliCommand reg{{"console", "open a telnet session to a device", kHelp, RunConsole}};

}  // namespace
}  // namespace orv::cli
