// orvistarctl search: one device search on the chosen interface, printed as
// a table or as JSON. Reads the settings, never writes them.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/trace.h"
#include "discovery/answer_handler.h"
#include "discovery/ip_check.h"
#include "discovery/result_format.h"
#include "discovery/search_engine.h"
#include "discovery/udp_transport.h"
#include "host/interfaces.h"
#include "host/settings.h"

namespace orv::cli {
namespace {

// The stored search length, with a warning when it had to be capped.
int SearchRoundsWarned() {
  std::string warning;
  const int rounds = StoredSearchRounds(&warning);
  if (!warning.empty()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
  return rounds;
}


const char kHelp[] =
    "Usage: orvistarctl search [OPTIONS]\n"
    "\n"
    "Broadcasts the device search on one host interface and lists the K7710 and\n"
    "Tramix 4410 RTUs that answer, in the order they were found. The settings are\n"
    "only read, never written.\n"
    "\n"
    "Options:\n"
    "  --nic ADDR            IPv4 address of the host interface to search on\n"
    "                        (default: the \"NIC_IP\" setting while it names a usable\n"
    "                        interface, else the first usable interface)\n"
    "  --cycles T            length of the search in one-second rounds, at least 1\n"
    "                        (default: the \"Search_Timeout\" setting, 3); the request\n"
    "                        is broadcast T/2+1 times\n"
    "  --range START-END     list only devices whose reported address lies between\n"
    "                        START and END inclusive (a device reporting 0.0.0.0 is\n"
    "                        judged by 0.0.0.0)\n"
    "  --subnet START/MASK   list only devices in the network of START under MASK,\n"
    "                        e.g. 192.168.127.1/255.255.255.0\n"
    "  --family FAMILY       search the family k7710 or 4410; repeat for both\n"
    "                        (default: both)\n"
    "  --json                print a JSON array of objects with the keys server_name,\n"
    "                        model, ip, mac, netmask, gateway, firmware and lock\n"
    "                        (\"Lock\" or \"Unlock\") instead of the table\n"
    "  --default-rcvbuf      keep the kernel's default socket receive buffer instead\n"
    "                        of asking for 4 MiB (for comparison benchmarks)\n"
    "  -h, --help            show this help\n"
    "\n"
    "The table has the columns #, Server Name, Model, IP Address, MAC Address,\n"
    "Subnet Mask, Gateway and Firmware Ver.; control characters and bytes that are\n"
    "not UTF-8 in server names are shown as \\xNN.\n"
    "\n"
    "Exit status: 0 search done (also when nothing was found), 1 the search could\n"
    "not run (no interface address, socket or bind failure, no request sent; the\n"
    "reason goes to stderr), 2 bad arguments, 3 interrupted (what was found so far\n"
    "is printed).\n";

// The interface a search uses when none is given.

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
  g_interrupted = true;
  SearchStopped = true;
}

// Checks an address field; throws the message the search dialog would show.
uint32_t CheckedAddress(const std::string& raw, const char* which) {
  const std::string text = TrimIPText(raw);
  int code = CheckIPText(text, false);
  // The check takes an empty part as 0 ("10.0..1"); such a text still
  // cannot be read as an address.
  if (code == IPTEXT_OK && !ParseIPText(text)) code = IPTEXT_NOT_FOUR_PARTS;
  if (code != IPTEXT_OK) {
    throw UsageError(std::string(IsIllegalIPTextCode(code) ? "Illegal " : "Invalid ") + which +
                     " IP address '" + text + "' (code " + std::to_string(code) + ")");
  }
  return IPTextToNumber(text);
}

uint32_t CheckedMask(const std::string& raw) {
  const std::string text = TrimIPText(raw);
  int code = CheckIPText(text, true);
  if (code == IPTEXT_OK && !ParseIPText(text)) code = IPTEXT_NOT_FOUR_PARTS;
  if (code != IPTEXT_OK) {
    throw UsageError(std::string(IsIllegalIPTextCode(code) ? "Illegal" : "Invalid") + " network mask '" +
                     text + "' (code " + std::to_string(code) + ")");
  }
  return IPTextToNumber(text);
}

int ParseCycles(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < 1 || v > 100000) {
    throw UsageError("--cycles needs a whole number from 1 to 100000, not '" + text + "'");
  }
  return static_cast<int>(v);
}

struct SearchOptions {
  std::string nic;
  bool nicGiven = false;
  int cycles = 0;
  bool cyclesGiven = false;
  SearchFilter filter;
  bool json = false;
  bool defaultRcvBuf = false;
};

SearchOptions ParseSearchOptions(const std::vector<std::string>& args) {
  SearchOptions o;
  bool rangeGiven = false;
  bool familyGiven = false;
  o.filter.bK7710 = false;
  o.filter.b4410 = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string v;
    if (TakeOption(args, i, "--nic", v)) {
      o.nic = TrimIPText(v);
      o.nicGiven = true;
      if (o.nic.empty()) throw UsageError("--nic needs an IPv4 address");
      if (!ParseIPText(o.nic)) throw UsageError("--nic '" + o.nic + "' is not an IPv4 address");
    } else if (TakeOption(args, i, "--cycles", v)) {
      o.cycles = ParseCycles(v);
      o.cyclesGiven = true;
    } else if (TakeOption(args, i, "--range", v)) {
      if (rangeGiven) throw UsageError("give --range or --subnet once");
      rangeGiven = true;
      const auto dash = v.find('-');
      if (dash == std::string::npos) throw UsageError("--range needs START-END, e.g. 192.168.1.1-192.168.1.254");
      o.filter.bRangeUse = true;
      o.filter.nRangeChoice = 0;
      o.filter.nStartIP = CheckedAddress(v.substr(0, dash), "Start");
      o.filter.nEndIP = CheckedAddress(v.substr(dash + 1), "End");
      if (o.filter.nEndIP < o.filter.nStartIP) {
        throw UsageError("Start IP address must be less than end IP address");
      }
    } else if (TakeOption(args, i, "--subnet", v)) {
      if (rangeGiven) throw UsageError("give --range or --subnet once");
      rangeGiven = true;
      const auto slash = v.find('/');
      if (slash == std::string::npos) throw UsageError("--subnet needs START/MASK, e.g. 192.168.127.1/255.255.255.0");
      o.filter.bRangeUse = true;
      o.filter.nRangeChoice = 1;
      o.filter.nStartIP = CheckedAddress(v.substr(0, slash), "Start");
      o.filter.nNetmask = CheckedMask(v.substr(slash + 1));
    } else if (TakeOption(args, i, "--family", v)) {
      familyGiven = true;
      if (v == "k7710" || v == "K7710") {
        o.filter.bK7710 = true;
      } else if (v == "4410") {
        o.filter.b4410 = true;
      } else {
        throw UsageError("--family is k7710 or 4410, not '" + v + "'");
      }
    } else if (args[i] == "--json") {
      o.json = true;
    } else if (args[i] == "--default-rcvbuf") {
      o.defaultRcvBuf = true;
    } else {
      throw UsageError("unknown option '" + args[i] + "'");
    }
  }
  if (!familyGiven) o.filter.bK7710 = o.filter.b4410 = true;
  return o;
}

int RunSearch(const std::vector<std::string>& args) {
  ORV_TRACE("RunSearch");
  SearchOptions o = ParseSearchOptions(args);
  if (!o.nicGiven) {
    o.nic = TrimIPText(PeekNicIP());
    if (o.nic.empty()) {
      std::cerr << "orvistarctl search: no usable network interface with an IPv4 address; "
                   "give --nic ADDR\n";
      return kExitFailed;
    }
  }
  if (!o.cyclesGiven) {
    o.cycles = SearchRoundsWarned();
    if (o.cycles < 1) {
      std::cerr << "orvistarctl search: warning: the \"Search_Timeout\" setting is " << o.cycles
                << ", so no search request is sent; give --cycles T\n";
    }
  }

  std::vector<IONODE> found;
  FoundListSink sink(found);
  UdpSearchTransport transport(o.defaultRcvBuf ? 0 : UdpSearchTransport::kDefaultRcvBuf);
  transport.SetBindWait(30000, [](const std::string& what) { std::fprintf(stderr, "waiting: %s\n", what.c_str()); });
  SteadySearchClock clock;
  SearchEngine engine(transport, clock, sink);
  engine.SetNicIP(o.nic);
  engine.SetFilter(o.filter);
  engine.SetRemainingCycles(o.cycles);

  const bool progress = ::isatty(STDERR_FILENO) != 0;
  int round = 0;
  SearchCallbacks cb;
  cb.processEvents = [&] {
    if (!progress) return;
    ++round;
    std::fprintf(stderr, "\rsearching on %s: round %d, %zu found ", o.nic.c_str(), round, found.size());
    std::fflush(stderr);
  };
  engine.SetCallbacks(std::move(cb));

  // Ctrl-C stops the search like the Stop button and keeps what was found.
  struct sigaction sa {};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: the blocking receive returns at once
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);
  engine.do_search();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  if (progress && round > 0) std::fprintf(stderr, "\n");

  if (engine.Failure()) {
    std::cerr << "orvistarctl search: search ended early: " << engine.Failure().reason << "\n";
    return kExitFailed;
  }
  const SearchStats& stats = engine.Stats();
  if (stats.sendsOk == 0 && stats.cycles > 0) {
    std::cerr << "orvistarctl search: no search request could be sent: " << stats.lastSendError << "\n";
    return kExitFailed;
  }
  if (stats.sendsFailed > 0) {
    std::cerr << "orvistarctl search: warning: " << stats.sendsFailed << " of " << stats.cycles
              << " search requests were not sent (" << stats.lastSendError << ")\n";
  }
  std::cout << (o.json ? FormatResultJson(found) : FormatResultTable(found));
  std::cout.flush();
  if (g_interrupted) {
    std::cerr << "orvistarctl search: interrupted\n";
    return kExitStopped;
  }
  return kExitOk;
}

CliCommand reg{{"search", "find the RTUs on the local network", kHelp, RunSearch}};

}  // namespace
}  // namespace orv::cli
