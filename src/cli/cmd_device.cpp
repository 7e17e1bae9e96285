// orvistarctl restart|reset|locate|unlock|set-ip|upgrade|export|import: the
// maintenance operations of the batch dialogs on the command line. The devices
// are found with a search first, as the window finds them; each gets its route
// before its turn; devices run one after the other; Ctrl-C acts as the Stop
// button (the device under way finishes, no further one starts).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/config_text.h"
#include "batch/firmware_file.h"
#include "batch/operations_log.h"
#include "cli/cli.h"
#include "cli/device_batch.h"
#include "common/trace.h"
#include "devices/mod_nx9000.h"
#include "devices/wait_dialog.h"
#include "discovery/answer_handler.h"
#include "discovery/ip_check.h"
#include "discovery/search_engine.h"
#include "discovery/udp_transport.h"
#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"
#include "inventory/name_tables.h"

namespace orv::cli {
namespace {

std::atomic<bool> g_stop{false};
std::atomic<StopToken*> g_token{nullptr};

// Ctrl-C and SIGTERM are taken by one thread with sigwait, so no socket call
// of a device exchange is ever interrupted: the device under way finishes.
class StopSignals {
 public:
  StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, &old_);  // inherited by every thread made later
    thread_ = std::thread([set] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR2) return;
        if (!g_stop.exchange(true))
          std::fprintf(stderr, "\nstopping: the device under way finishes, no further device starts\n");
        SearchStopped = true;
        if (StopToken* t = g_token.load()) t->Request();
      }
    });
  }
  ~StopSignals() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t old_{};
  std::thread thread_;
};

const bool g_tty = ::isatty(STDERR_FILENO) != 0;

// Progress of one firmware transfer on stderr.
class CliProgress : public TProgressBar {
 public:
  CliProgress(std::string mac, int32_t blocks) : mac_(std::move(mac)), blocks_(blocks) {}
  int32_t Position() const override { return pos_; }
  void SetPosition(int32_t p) override {
    pos_ = p;
    if (g_tty) std::fprintf(stderr, "\r%s: block %d of %d ", mac_.c_str(), p, blocks_);
  }
  void Done() {
    std::fprintf(stderr, g_tty ? "\n" : "%s: %d of %d blocks sent\n", mac_.c_str(), pos_, blocks_);
  }

 private:
  std::string mac_;
  int32_t blocks_;
  int32_t pos_ = 0;
};

// Restart countdown on stderr.
class CliWaitDisplay : public TWaitDisplay {
 public:
  void Opened() override { std::fprintf(stderr, g_tty ? "" : "waiting for the device to restart\n"); }
  void ShowCount(int32_t n) override {
    if (g_tty) std::fprintf(stderr, "\rrestarting: %d ", n);
  }
  void Closed() override {
    if (g_tty) std::fprintf(stderr, "\r              \r");
  }
};

using Op = BatchOp;  // the operations of the shared runner

struct Options {
  Op op{};
  std::string name;
  std::vector<std::string> macs;  // normalised
  bool all = false;
  std::optional<std::string> password;
  std::string nic;
  bool nicGiven = false;
  int cycles = 0;
  bool cyclesGiven = false;
  int timeoutMs = 0;
  bool json = false;
  bool yes = false;
  uint16_t locateValue = 0x0100;
  std::vector<AddressChange> changes;
  std::string file;   // upgrade/import file, export --file
  std::string dir;    // export --dir
  bool updateNetwork = false;
};

int ParseInt(const std::string& text, const std::string& what, long lo, long hi) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < lo || v > hi)
    throw UsageError(what + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not '" + text + "'");
  return static_cast<int>(v);
}

std::string AddressMessage(int code) {
  switch (code) {
    case 1: return "The IP address length is incorrect. Please check it.";
    case 5: return "The IP address format is illegal. Please check it.";
    default: return "The IP address format is incorrect. Please check it.";
  }
}

Options Parse(Op op, const std::string& name, const std::vector<std::string>& args) {
  Options o;
  o.op = op;
  o.name = name;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string v;
    if (TakeOption(args, i, "--mac", v)) {
      auto mac = NormalizeMacText(v);
      if (!mac) throw UsageError("'" + v + "' is not a MAC address (e.g. 00-0A-1B-2C-3D-4E)");
      o.macs.push_back(*mac);
    } else if (args[i] == "--all") {
      o.all = true;
    } else if (TakeOption(args, i, "--password", v)) {
      o.password = v;
    } else if (TakeOption(args, i, "--nic", v)) {
      o.nic = TrimIPText(v);
      o.nicGiven = true;
      if (!ParseIPText(o.nic)) throw UsageError("--nic '" + v + "' is not an IPv4 address");
    } else if (TakeOption(args, i, "--cycles", v)) {
      o.cycles = ParseInt(v, "--cycles", 1, 100000);
      o.cyclesGiven = true;
    } else if (TakeOption(args, i, "--timeout", v)) {
      o.timeoutMs = ParseInt(v, "--timeout", 1, 600000);
    } else if (args[i] == "--json") {
      o.json = true;
    } else if (args[i] == "--yes" || args[i] == "-y") {
      o.yes = true;
    } else if (op == Op::Locate && TakeOption(args, i, "--value", v)) {
      o.locateValue = static_cast<uint16_t>(ParseInt(v, "--value", 0, 0xFFFF));
    } else if (op == Op::Export && TakeOption(args, i, "--dir", v)) {
      o.dir = v;
    } else if (op == Op::Export && TakeOption(args, i, "--file", v)) {
      o.file = v;
    } else if (op == Op::Import && args[i] == "--update-network") {
      o.updateNetwork = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError("unknown option '" + args[i] + "'");
    } else {
      positional.push_back(args[i]);
    }
  }
  if (op == Op::SetIp) {
    if (positional.empty()) throw UsageError("set-ip needs at least one MAC=ADDR");
    if (o.all || !o.macs.empty()) throw UsageError("set-ip takes its devices from MAC=ADDR, not --mac/--all");
    std::set<std::string> seen;
    for (const auto& p : positional) {
      AddressChange c = ParseAddressChange(p);
      int code = CheckIPText(c.address, false);
      if (code != 0)
        throw UsageError(c.mac + "=" + c.address + ": " + AddressMessage(code) + " (code " + std::to_string(code) + ")");
      if (!seen.insert(c.mac).second) throw UsageError(c.mac + " is given twice");
      o.changes.push_back(c);
    }
    return o;
  }
  if (op == Op::Upgrade || op == Op::Import) {
    if (positional.size() != 1) throw UsageError(name + " needs exactly one FILE");
    o.file = positional[0];
  } else if (!positional.empty()) {
    throw UsageError("unexpected argument '" + positional[0] + "'");
  }
  if (op == Op::Export && o.dir.empty() == o.file.empty())
    throw UsageError("export needs --dir DIR (one file per device) or --file FILE (one device)");
  if (o.all == !o.macs.empty()) throw UsageError("give the devices with --mac MAC (repeatable) or --all");
  return o;
}

// The window's question before the operation; --yes answers it.
bool Confirm(const Options& o, const std::string& question) {
  if (o.yes) return true;
  if (!::isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "orvistarctl %s: standard input is not a terminal: give --yes to confirm\n",
                 o.name.c_str());
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

std::string FinishMessage(Op op) {
  switch (op) {
    case Op::Upgrade: return "'Upgrade' function has finished.";
    case Op::Import: return "Import configuration completed.";
    case Op::Export: return "Export configuration completed.";
    case Op::SetIp: return "Change IP address has finished.\n\nYou need to search for the device again.";
    default: return std::string("'") + BatchOpName(op) + "' function has finished.";
  }
}

std::string ModelName(int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kModelNameCount) return "";
  return NAME_MOD[index];
}

struct Row {
  TModNx9000* module;
  std::string model;
};

int Run(Op op, const std::string& name, const std::vector<std::string>& args) {
  ORV_TRACE(("orvistarctl " + name).c_str());
  Options o = Parse(op, name, args);
  g_stop = false;

  // Files are checked before any device is contacted.
  FirmwareImage firmware;
  std::vector<uint8_t> config;
  if (op == Op::Upgrade) {
    FirmwareCheck check = LoadFirmwareFile(o.file, firmware);
    if (check != FirmwareCheck::Ok) {
      std::fprintf(stderr, "'Upgrade' function  failed. The firmware file is incorrect.\n(%s: %s)\n",
                   o.file.c_str(), FirmwareCheckText(check));
      return kExitUsage;
    }
  } else if (op == Op::Import) {
    ConfigLoad load = LoadConfigFile(o.file, config);
    if (load != ConfigLoad::Ok) {
      std::fprintf(stderr, "Open 'Import' file failed.\n(%s%s)\n", o.file.c_str(),
                   load == ConfigLoad::TooLarge ? ": file too large" : "");
      return kExitUsage;
    }
  }

  if (!o.nicGiven) {
    o.nic = TrimIPText(PeekNicIP());
    if (o.nic.empty()) {
      std::fprintf(stderr, "orvistarctl %s: no usable network interface with an IPv4 address; give --nic ADDR\n",
                   name.c_str());
      return kExitFailed;
    }
  }
  if (op == Op::SetIp) {
    for (const auto& c : o.changes) {
      if (c.address == o.nic) {
        std::fprintf(stderr, "%s=%s: The IP address is the same as the host's IP address.\n\n"
                     "Please use a different address.\n", c.mac.c_str(), c.address.c_str());
        return kExitUsage;
      }
    }
  }
  if (!o.cyclesGiven) o.cycles = ReadRegInteger(szRegKeySystem, "Search_Timeout", 3);
  nSocketTimeout = o.timeoutMs > 0 ? o.timeoutMs : ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000);
  if (nSocketTimeout <= 0) nSocketTimeout = 5000;

  StopSignals signals;

  // The search, as the window runs it before any operation.
  std::vector<IONODE> found;
  {
    FoundListSink sink(found);
    UdpSearchTransport transport(UdpSearchTransport::kDefaultRcvBuf);
    SteadySearchClock clock;
    SearchEngine engine(transport, clock, sink);
    SearchFilter filter;
    filter.bK7710 = filter.b4410 = true;
    engine.SetNicIP(o.nic);
    engine.SetFilter(filter);
    engine.SetRemainingCycles(o.cycles);
    std::fprintf(stderr, "searching on %s ...\n", o.nic.c_str());
    engine.do_search();
    if (engine.Failure()) {
      std::fprintf(stderr, "orvistarctl %s: search ended early: %s\n", name.c_str(),
                   engine.Failure().reason.c_str());
      return kExitFailed;
    }
    std::fprintf(stderr, "%zu device(s) found\n", found.size());
  }
  if (g_stop) {
    std::fprintf(stderr, "orvistarctl %s: stopped during the search; no device was contacted\n", name.c_str());
    return kExitStopped;
  }

  // The inventory: one module per device found, in search order.
  std::vector<std::unique_ptr<TModNx9000>> modules;
  TIOObjList list;
  for (const IONODE& n : found) {
    auto m = std::make_unique<TModNx9000>(n.nModelIndex);
    m->Init(nullptr, nullptr, nullptr);
    m->AddIO(&list, nullptr, n.szIP, n.szMac, n.szNetmask, n.szGateway, n.szLockMode, n.szRevision,
             n.szServerName);
    if (o.password) m->szPassword = *o.password;
    modules.push_back(std::move(m));
  }
  struct QuitModules {
    std::vector<std::unique_ptr<TModNx9000>>& m;
    ~QuitModules() {
      for (auto& x : m) x->Quit();
    }
  } quitModules{modules};

  // Selected devices in inventory order; selections that match nothing are reported.
  std::vector<std::string> wanted;
  std::map<std::string, std::string> newAddress;
  if (op == Op::SetIp) {
    for (const auto& c : o.changes) {
      wanted.push_back(c.mac);
      newAddress[c.mac] = c.address;
    }
  } else {
    wanted = o.macs;
  }
  std::vector<Row> rows;
  std::set<std::string> matched;
  for (auto& m : modules) {
    bool take = o.all;
    for (const auto& w : wanted) take = take || m->szMacAddress == w;
    if (!take) continue;
    matched.insert(m->szMacAddress);
    rows.push_back({m.get(), ModelName(m->nModuleID)});
  }
  std::vector<DeviceOutcome> missing;
  for (const auto& w : wanted) {
    if (matched.count(w)) continue;
    DeviceOutcome d;
    d.mac = w;
    missing.push_back(d);
  }

  // What the window checks before it opens the dialog.
  if ((op == Op::Upgrade || op == Op::Import) && !rows.empty()) {
    for (const auto& r : rows) {
      if (r.model != rows[0].model) {
        std::fprintf(stderr, "orvistarctl %s: the selected devices are not all of one model (%s, %s)\n",
                     name.c_str(), rows[0].model.c_str(), r.model.c_str());
        return kExitUsage;
      }
    }
  }
  if (op == Op::Export && !o.file.empty() && rows.size() > 1) {
    std::fprintf(stderr, "orvistarctl export: --file takes one device, %zu are selected; use --dir\n", rows.size());
    return kExitUsage;
  }
  bool updateNetwork = false;
  if (op == Op::Import && !rows.empty()) {
    if (!ConfigModelMatches(config, rows[0].model)) {
      std::fprintf(stderr, "Import file does not match the model type.\n");
      return kExitUsage;
    }
    updateNetwork = o.updateNetwork && rows.size() < 2;
    if (o.updateNetwork && rows.size() >= 2) std::fprintf(stderr, "The device network setting will not update.\n");
    ApplyNetConfigRule(config, updateNetwork);
  }
  if (!rows.empty()) {
    std::string question;
    if (op == Op::Reset) question = "Do you really want to reset device to default?";
    if (op == Op::Import) question = "WARNING: Current IO and system settings will be overwritten.\n\nClick yes to confirm.";
    if (op == Op::SetIp) question = "Do you want to change the IP? Click No to discard change.";
    if (!question.empty() && !Confirm(o, question)) {
      std::fprintf(stderr, "orvistarctl %s: not confirmed; no device was contacted\n", name.c_str());
      return kExitUsage;
    }
  }
  if (!rows.empty() && !CanChangeRoutes())
    std::fprintf(stderr, "warning: cannot add device routes: %s\n", RouteRightsHint().c_str());
  // Routes of a run that died (and holds no lock any more) go before new ones are added.
  if (!rows.empty()) RemoveStaleDeviceRoutes();

  CliWaitDisplay waitDisplay;
  TfmWait wait(&waitDisplay);
  SetRestartWait(&wait);

  // The run: one device after the other, through the runner the window uses.
  BatchJob job;
  job.op = op;
  job.localIP = o.nic;
  job.locateValue = o.locateValue;
  job.unlockWithGiven = o.password.has_value();
  job.pauseAfterMs = (op == Op::Restart || op == Op::Reset) ? 2000 : 0;
  // Each device's entries go when its turn ends.
  job.removeRouteAfterEach = true;
  if (op == Op::Upgrade) job.firmware = std::make_shared<const FirmwareImage>(std::move(firmware));
  if (op == Op::Import) job.config = std::make_shared<const std::vector<uint8_t>>(std::move(config));
  std::vector<BatchDevice> devices;
  for (const Row& row : rows) {
    TModNx9000& m = *row.module;
    BatchDevice d = BatchDeviceOf(m, row.model);
    if (op == Op::SetIp) d.newAddress = newAddress[m.szMacAddress];
    if (op == Op::Export)
      d.exportPath = o.file.empty() ? ExportDevicePath(o.dir, row.model, m.szMacAddress) : o.file;
    devices.push_back(std::move(d));
  }
  std::unique_ptr<CliProgress> progress;
  BatchHooks hooks;
  hooks.started = [&](std::size_t i, bool) {
    if (op == Op::Upgrade)
      progress = std::make_unique<CliProgress>(
          devices[i].mac, static_cast<int32_t>(TransferBlocks(static_cast<uint32_t>(job.firmware->image.size()))));
  };
  hooks.progress = [&](std::size_t, int32_t pos) {
    if (progress) progress->SetPosition(pos);
  };
  std::vector<DeviceOutcome> outcomes;
  hooks.finished = [&](std::size_t i, const BatchResult& r) {
    if (progress) {
      progress->Done();
      progress.reset();
    }
    const BatchDevice& bd = devices[i];
    DeviceOutcome d;
    d.mac = bd.mac;
    d.ip = bd.ip;
    d.model = bd.model;
    d.serverName = bd.serverName;
    d.ran = true;
    d.result = r.code;
    d.blocks = r.blocks;
    if (op == Op::Export) d.file = bd.exportPath;
    if (op == Op::SetIp) {
      d.note = "-> " + bd.newAddress;
      if (r.code == 0 && !r.note.empty()) d.note = r.note;  // already there
      if (r.text != "Success" && r.text != "Fail")
        d.note += r.text.empty() ? "  address mode not changeable" : "  " + r.text;
    }
    if (!o.json) {
      std::cout << FormatDeviceLine(d) << "\n";
      std::cout.flush();
    }
    outcomes.push_back(std::move(d));
  };
  StopToken token;
  g_token = &token;
  if (g_stop) token.Request();
  OperationsLog log;
  BatchSummary summary = RunBatch(job, devices, token, hooks, BatchRoutes::Host(), nullptr, &log);
  g_token = nullptr;
  const bool stopped = summary.stopped || (g_stop && outcomes.size() < rows.size() && !summary.aborted);
  const bool aborted = summary.aborted;
  if (aborted) std::fprintf(stderr, "%s\n", summary.abortMessage.c_str());
  SetRestartWait(nullptr);
  RemoveAllDeviceRoutes();

  for (auto& d : missing) {
    if (!o.json) std::cout << FormatDeviceLine(d) << "\n";
    outcomes.push_back(std::move(d));
  }
  int ok = 0;
  for (const auto& d : outcomes) ok += d.ran && d.result == 0;
  if (o.json) std::cout << FormatBatchJson(name, outcomes, stopped || aborted);
  std::cout.flush();

  if (stopped && op == Op::SetIp)
    std::fprintf(stderr, "Change IP address has stopped.\n\nYou need to search for the device again.\n");
  else if (stopped)
    std::fprintf(stderr, "User has stopped the '%s' procedure.\n",
                 op == Op::Upgrade ? "Upgrade Firmware" : BatchOpName(op));
  else if (!aborted)
    std::fprintf(stderr, "%s\n", FinishMessage(op).c_str());
  std::fprintf(stderr, "%d of %zu device(s) succeeded%s\n", ok, outcomes.size(),
               stopped ? ", stopped" : (aborted ? ", run ended early" : ""));
  if (rows.empty() && outcomes.empty()) std::fprintf(stderr, "no device selected\n");
  if (stopped) return kExitStopped;
  return ok == static_cast<int>(outcomes.size()) && !aborted && !outcomes.empty() ? kExitOk : kExitFailed;
}

const char kCommon[] =
    "Devices (found with a search on the interface first, as the window finds them):\n"
    "  --mac MAC             a device by its MAC address (repeatable; 00-0A-1B-2C-3D-4E,\n"
    "                        00:0a:1b:2c:3d:4e or 000a1b2c3d4e)\n"
    "  --all                 every device the search finds\n"
    "Options:\n"
    "  --password PW         device password (default: the device's default password)\n"
    "  --nic ADDR            host interface to search on and route through\n"
    "                        (default: the \"NIC_IP\" setting)\n"
    "  --cycles T            search length in one-second rounds (default: \"Search_Timeout\")\n"
    "  --timeout MS          connect and restart time limit (default: \"Socket Timeout\")\n"
    "  --json                print the results as JSON on stdout\n"
    "\n"
    "Prints one line per device: MAC, address, \"Success\" or \"Fail\" and the numeric\n"
    "result; progress, the restart countdown and a summary go to stderr. Each device\n"
    "gets a host route (and static ARP entry) for its turn, removed when the turn ends.\n"
    "Ctrl-C stops after the device under way.\n"
    "Exit status: 0 every device succeeded, 1 some device failed or was not found,\n"
    "2 bad arguments or input (nothing contacted), 3 stopped.\n";

std::string Help(const std::string& usage, const std::string& what) {
  return "Usage: orvistarctl " + usage + "\n\n" + what + "\n\n" + kCommon;
}

CliCommand regRestart{{"restart", "restart devices",
                       Help("restart (--mac MAC... | --all) [OPTIONS]",
                            "Restarts each device and waits for its restart countdown, then 2 s.\n"
                            "Results: 0 success, 4 password refused, 2 restart refused."),
                       [](const std::vector<std::string>& a) { return Run(Op::Restart, "restart", a); }}};
CliCommand regReset{{"reset", "reset devices to factory defaults",
                     Help("reset (--mac MAC... | --all) [--yes] [OPTIONS]",
                          "Resets each device to its factory defaults (address, password, configuration)\n"
                          "and waits for its restart, then 2 s. Asks for confirmation on a terminal;\n"
                          "needs --yes when standard input is not a terminal.\n"
                          "Results: 0 success, 4 password refused, 3 reset refused."),
                     [](const std::vector<std::string>& a) { return Run(Op::Reset, "reset", a); }}};
CliCommand regLocate{{"locate", "make devices show where they are",
                      Help("locate (--mac MAC... | --all) [--value N] [OPTIONS]",
                           "Writes the locate value N (0-65535, default 0x0100) to each device.\n"
                           "Results: 0 success, 4 password refused, 7 locate refused."),
                      [](const std::vector<std::string>& a) { return Run(Op::Locate, "locate", a); }}};
CliCommand regUnlock{{"unlock", "check the password of devices",
                      Help("unlock (--mac MAC... | --all) [OPTIONS]",
                           "Logs in to each device with --password (without it, with the default\n"
                           "password). Results: 0 accepted, 4 refused."),
                      [](const std::vector<std::string>& a) { return Run(Op::Unlock, "unlock", a); }}};
CliCommand regSetIp{{"set-ip", "give devices new IPv4 addresses",
                     Help("set-ip MAC=ADDR... [--yes] [OPTIONS]",
                          "Gives each listed device its new address and restarts it; search again\n"
                          "afterwards. Addresses are checked first; the host's own address is refused.\n"
                          "Asks for confirmation on a terminal; needs --yes otherwise.\n"
                          "Results: 0 success, 4 password refused, 5 failed, 51 DHCP, 52 DHCPBOOTP,\n"
                          "53 BOOTP, 54 PPPOE (the device keeps its address)."),
                     [](const std::vector<std::string>& a) { return Run(Op::SetIp, "set-ip", a); }}};
CliCommand regUpgrade{{"upgrade", "send a firmware image to devices",
                       Help("upgrade FILE (--mac MAC... | --all) [OPTIONS]",
                            "Checks the firmware file (.q6p) and refuses a bad one before any device is\n"
                            "contacted; then sends it to each device (all of one model), which restarts.\n"
                            "Results: 0 success, 4 password refused, 1 transfer failed."),
                       [](const std::vector<std::string>& a) { return Run(Op::Upgrade, "upgrade", a); }}};
CliCommand regExport{{"export", "save device configurations to text files",
                      Help("export (--dir DIR | --file FILE) (--mac MAC... | --all) [OPTIONS]",
                           "--dir writes one file per device named qx<model digits>_<MAC>.txt (existing\n"
                           "files are replaced); --file writes the one selected device to FILE.\n"
                           "Results: 0 success, 4 password refused, 5 length read failed, 6 transfer failed."),
                      [](const std::vector<std::string>& a) { return Run(Op::Export, "export", a); }}};
CliCommand regImport{{"import", "write a configuration text file into devices",
                      Help("import FILE (--mac MAC... | --all) [--update-network] [--yes] [OPTIONS]",
                           "Writes FILE into each device (all of one model; the file's MOD_TYPE must\n"
                           "match), which restarts. Network settings change only with --update-network\n"
                           "and a single device; otherwise NET_CONFIG_OVERWRITE is sent as 0.\n"
                           "Asks for confirmation on a terminal; needs --yes otherwise.\n"
                           "Results: 0 success, 4 password refused, 5 transfer failed."),
                      [](const std::vector<std::string>& a) { return Run(Op::Import, "import", a); }}};

}  // namespace
}  // namespace orv::cli
