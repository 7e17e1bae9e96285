// orvistarctl restart|reset|locate|unlock|set-ip|upgrade|export|import: the
// maintenance operations of the batch dialogs on the command line. The devices
// are found with a search first, as the window finds them; each gets its route
// before its turn; devices run one after the other; Ctrl-C acts as the Stop
// button (the device under way finishes, no further one starts).
#include <arpa/inet.h>
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

#include <CLI/CLI.hpp>

#include "batch/batch_runner.h"
#include "batch/config_text.h"
#include "batch/firmware_file.h"
#include "batch/operations_log.h"
#include "cli/cli.h"
#include "cli/device_batch.h"
#include "cli/device_search.h"
#include "cli/fleet_progress.h"
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
int SearchDevices(const std::string& command, const std::string& nic, int cycles, std::vector<IONODE>* found) {
  FoundListSink sink(*found);
  UdpSearchTransport transport(UdpSearchTransport::kDefaultRcvBuf);
  transport.SetBindWait(30000, [](const std::string& what) { std::fprintf(stderr, "waiting: %s\n", what.c_str()); });
  SteadySearchClock clock;
  SearchEngine engine(transport, clock, sink);
  SearchFilter filter;
  filter.bK7710 = filter.b4410 = true;
  engine.SetNicIP(nic);
  engine.SetFilter(filter);
  engine.SetRemainingCycles(cycles);
  std::fprintf(stderr, "searching on %s ...\n", nic.c_str());
  engine.do_search();
  if (engine.Failure()) {
    std::fprintf(stderr, "orvistarctl %s: search ended early: %s\n", command.c_str(),
                 engine.Failure().reason.c_str());
    return kExitFailed;
  }
  std::fprintf(stderr, "%zu device(s) found\n", found->size());
  return kExitOk;
}

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
          std::fprintf(stderr, "\nstopping: devices under way finish, no further device starts\n");
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

// The restart countdown of whichever device the calling worker serves: each
// device that restarts gets its own full countdown, also when several wait at
// once.
thread_local std::size_t t_device = 0;

class CliRestartWait : public TRestartWait {
 public:
  explicit CliRestartWait(FleetProgress& progress) : progress_(progress) {}
  void ShowModal() override {
    struct Display : TWaitDisplay {
      FleetProgress& p;
      std::size_t i;
      Display(FleetProgress& pr, std::size_t ix) : p(pr), i(ix) {}
      void ShowCount(int32_t n) override { p.Countdown(i, n); }
      void Closed() override { p.Countdown(i, -1); }
    } display(progress_, t_device);
    TfmWait wait(&display);
    wait.ShowModal();
  }

 private:
  FleetProgress& progress_;
};

// Writes text to path; false with *error when any step fails.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  const int savedErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!wrote || !closed) {
    *error = std::strerror(wrote ? errno : savedErrno);
    return false;
  }
  return true;
}

// The stored search length, with a warning when it had to be capped.
int SearchRoundsWarned() {
  std::string warning;
  const int rounds = StoredSearchRounds(&warning);
  if (!warning.empty()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
  return rounds;
}

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
  int jobs = 1;
  std::string report;  // --report FILE (.csv or .json)
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
  CLI::App app{"orvistarctl " + name};
  app.set_help_flag();  // --help is answered before the command runs
  app.allow_extras();   // unknown options are reported below, in our words
  app.positionals_at_end(false);
  std::vector<std::string> macTexts, positional;
  std::string password, nic, cycles, timeout, value, jobs;
  // One value per occurrence, so that "--mac A --mac B" and "--mac=A" read alike.
  auto value_option = [&](const char* flag, auto& target) {
    auto* opt = app.add_option(flag, target);
    opt->allow_extra_args(false);
    return opt;
  };
  value_option("--mac", macTexts);
  value_option("--password", password);
  value_option("--nic", nic);
  value_option("--cycles", cycles);
  value_option("--timeout", timeout);
  value_option("--jobs", jobs);
  value_option("--report", o.report);
  if (op == Op::Locate) value_option("--value", value);
  if (op == Op::Export) {
    value_option("--dir", o.dir);
    value_option("--file", o.file);
  }
  app.add_flag("--all", o.all);
  app.add_flag("--json", o.json);
  app.add_flag("--yes,-y", o.yes);
  if (op == Op::Import) app.add_flag("--update-network", o.updateNetwork);
  app.add_option("arguments", positional);
  std::set<std::string> valueFlags = {"--mac", "--password", "--nic", "--cycles", "--timeout", "--jobs",
                                      "--report", "--value", "--dir", "--file"};
  if (!args.empty() && valueFlags.count(args.back()) && app.get_option_no_throw(args.back()))
    throw UsageError("option " + args.back() + " needs a value");
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 reads from the back
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  auto given = [&](const char* flag) {
    const CLI::Option* opt = app.get_option_no_throw(flag);
    return opt && opt->count() > 0;
  };
  for (const auto& extra : app.remaining()) {
    if (!extra.empty() && extra[0] == '-') throw UsageError("unknown option '" + extra + "'");
    positional.push_back(extra);
  }
  for (const auto& v : macTexts) {
    auto mac = NormalizeMacText(v);
    if (!mac) throw UsageError("'" + v + "' is not a MAC address (e.g. 00-0A-1B-2C-3D-4E)");
    o.macs.push_back(*mac);
  }
  if (given("--password")) o.password = password;
  if (given("--nic")) {
    o.nic = TrimIPText(nic);
    o.nicGiven = true;
    if (!ParseIPText(o.nic)) throw UsageError("--nic '" + nic + "' is not an IPv4 address");
  }
  if (given("--cycles")) {
    o.cycles = ParseInt(cycles, "--cycles", 1, 100000);
    o.cyclesGiven = true;
  }
  if (given("--timeout")) o.timeoutMs = ParseInt(timeout, "--timeout", 1, 600000);
  if (given("--jobs")) o.jobs = ParseInt(jobs, "--jobs", 1, kMaxBatchJobs);
  if (given("--value")) o.locateValue = static_cast<uint16_t>(ParseInt(value, "--value", 0, 0xFFFF));
  if (given("--report") && ReportFormatOf(o.report).empty())
    throw UsageError("--report '" + o.report + "' needs a name ending in .csv or .json");

  if (op == Op::SetIp) {
    if (positional.empty()) throw UsageError("set-ip needs at least one MAC=ADDR");
    if (o.all || !o.macs.empty()) throw UsageError("set-ip takes its devices from MAC=ADDR, not --mac/--all");
    std::set<std::string> seen;
    for (const auto& p : positional) {
      AddressChange c = ParseAddressChange(p);
      int code = CheckIPText(c.address, false);
      if (code == 0) {
        const auto n = ParseIPText(c.address);
        if (!n || !IsDeviceAddress(htonl(*n)))
          throw UsageError(c.mac + "=" + c.address + ": The IP address cannot be given to a device.");
      }
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
      std::fprintf(stderr, "Open 'Import' file failed.\n(%s: %s)\n", o.file.c_str(), ConfigLoadText(load));
      return kExitUsage;
    }
    if (!ConfigHasModelType(config))
      std::fprintf(stderr, "warning: %s has no \"MOD_TYPE=\"; the model cannot be checked\n", o.file.c_str());
  }

  if (!o.report.empty()) {
    // A report that could not be written at the end would lose the results.
    const auto slash = o.report.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : o.report.substr(0, slash));
    if (::access(folder.c_str(), W_OK) != 0) {
      std::fprintf(stderr, "orvistarctl %s: cannot write the report in %s: %s\n", name.c_str(), folder.c_str(),
                   std::strerror(errno));
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
  if (!o.cyclesGiven) o.cycles = SearchRoundsWarned();
  nSocketTimeout = o.timeoutMs > 0 ? o.timeoutMs : ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000);
  if (nSocketTimeout <= 0) nSocketTimeout = 5000;

  StopSignals signals;
  SetRouteWaitStop(&g_stop);

  std::vector<IONODE> found;
  if (int rc = SearchDevices(name, o.nic, o.cycles, &found); rc != kExitOk) return rc;
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

  const int32_t blocksPerDevice =
      op == Op::Upgrade ? static_cast<int32_t>(TransferBlocks(static_cast<uint32_t>(firmware.image.size()))) : 0;
  FleetProgress progress(stderr, ::isatty(STDERR_FILENO) != 0, rows.size(), blocksPerDevice, kTransferBlock);
  CliRestartWait wait(progress);
  SetRestartWait(&wait);

  // The run, through the runner the window uses: one device after the other,
  // or --jobs at a time.
  BatchJob job;
  job.op = op;
  job.localIP = o.nic;
  job.locateValue = o.locateValue;
  job.unlockWithGiven = o.password.has_value();
  job.pauseAfterMs = (op == Op::Restart || op == Op::Reset) ? 2000 : 0;
  job.jobs = o.jobs;
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
  BatchHooks hooks;
  hooks.started = [&](std::size_t i, bool) {
    t_device = i;
    progress.Started(i, devices[i].mac, devices[i].ip);
  };
  hooks.progress = [&](std::size_t i, int32_t pos) { progress.Blocks(i, pos); };
  // In device order for the summary and the JSON, whatever order they finish in.
  std::vector<std::optional<DeviceOutcome>> done(devices.size());
  hooks.finished = [&](std::size_t i, const BatchResult& r) {
    const BatchDevice& bd = devices[i];
    DeviceOutcome d;
    d.mac = bd.mac;
    d.ip = bd.ip;
    d.model = bd.model;
    d.serverName = bd.serverName;
    d.ran = true;
    d.result = r.code;
    d.blocks = r.blocks;
    d.text = r.text.empty() ? "address mode not changeable" : r.text;
    d.finishedAt = r.finishedAt;
    d.seconds = r.seconds;
    if (op == Op::Export) d.file = bd.exportPath;
    if (op != Op::Export && !r.note.empty()) d.note = r.note;  // e.g. why it could not be reached
    if (op == Op::SetIp) {
      d.note = "-> " + bd.newAddress;
      if (r.code == 0 && !r.note.empty()) d.note = r.note;  // already there
      if (r.text != "Success" && r.text != "Fail")
        d.note += r.text.empty() ? "  address mode not changeable" : "  " + r.text;
    }
    // A result line as each device finishes.
    progress.Finished(i, o.json ? std::string() : FormatDeviceLine(d), stdout);
    done[i] = std::move(d);
  };
  StopToken token;
  g_token = &token;
  if (g_stop) token.Request();
  OperationsLog log;
  BatchSummary summary = RunBatch(job, devices, token, hooks, BatchRoutes::Host(), nullptr, &log);
  g_token = nullptr;
  progress.Close();
  std::vector<DeviceOutcome> outcomes;
  for (auto& d : done)
    if (d) outcomes.push_back(std::move(*d));
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
  if (!o.report.empty()) {
    std::string error;
    if (!WriteWholeFile(o.report, FormatReport(ReportFormatOf(o.report), BatchOpKey(op), outcomes), &error)) {
      std::fprintf(stderr, "orvistarctl %s: cannot write the report %s: %s\n", name.c_str(), o.report.c_str(),
                   error.c_str());
      if (!stopped) return kExitFailed;
    }
  }

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
    "  --jobs N              serve up to N devices at once (1-64, default 1); devices\n"
    "                        that share an address still go one after the other\n"
    "  --report FILE         write the per-device results to FILE (.csv or .json)\n"
    "\n"
    "Prints one line per device as it finishes: MAC, address, \"Success\" or \"Fail\"\n"
    "and the numeric result; progress, the restart countdown of each device and a\n"
    "summary go to stderr. Each device gets a host route (and static ARP entry) for its\n"
    "turn, removed when the turn ends. Every device operation is added to the\n"
    "operations log (see `orvistarctl log`).\n"
    "Ctrl-C starts no further device and waits for those under way.\n"
    "Exit status: 0 every device succeeded, 1 some device failed or was not found,\n"
    "2 bad arguments or input (nothing contacted), 3 stopped.\n";

std::string Help(const std::string& usage, const std::string& what) {
  return "Usage: orvistarctl " + usage + "\n\n" + what + "\n\n" + kCommon;
}

CliCommand regRestart{{"restart", "restart devices",
                       Help("restart (--mac MAC... | --all) [OPTIONS]",
                            "Restarts each device and waits for its restart countdown, then 2 s.\n"
                            "Results: 0 success, 4 no connection or password refused, 2 restart refused."),
                       [](const std::vector<std::string>& a) { return Run(Op::Restart, "restart", a); }}};
CliCommand regReset{{"reset", "reset devices to factory defaults",
                     Help("reset (--mac MAC... | --all) [--yes] [OPTIONS]",
                          "Resets each device to its factory defaults (address, password, configuration)\n"
                          "and waits for its restart, then 2 s. Asks for confirmation on a terminal;\n"
                          "needs --yes when standard input is not a terminal.\n"
                          "Results: 0 success, 4 no connection or password refused, 3 reset refused."),
                     [](const std::vector<std::string>& a) { return Run(Op::Reset, "reset", a); }}};
CliCommand regLocate{{"locate", "make devices show where they are",
                      Help("locate (--mac MAC... | --all) [--value N] [OPTIONS]",
                           "Writes the locate value N (0-65535, default 0x0100) to each device.\n"
                           "Results: 0 success, 4 no connection or password refused, 7 locate refused."),
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
                          "Results: 0 success, 4 no connection or password refused, 5 failed, 51 DHCP, 52 DHCPBOOTP,\n"
                          "53 BOOTP, 54 PPPOE (the device keeps its address)."),
                     [](const std::vector<std::string>& a) { return Run(Op::SetIp, "set-ip", a); }}};
CliCommand regUpgrade{{"upgrade", "send a firmware image to devices",
                       Help("upgrade FILE (--mac MAC... | --all) [OPTIONS]",
                            "Checks the firmware file (.q6p) and refuses a bad one before any device is\n"
                            "contacted; then sends it to each device (all of one model), which restarts.\n"
                            "Results: 0 success, 4 no connection or password refused, 1 transfer failed."),
                       [](const std::vector<std::string>& a) { return Run(Op::Upgrade, "upgrade", a); }}};
CliCommand regExport{{"export", "save device configurations to text files",
                      Help("export (--dir DIR | --file FILE) (--mac MAC... | --all) [OPTIONS]",
                           "--dir writes one file per device named qx<model name's 2nd to 5th\n"
                           "characters>_<MAC>.txt, e.g. qx7710_... for K7710, qxrami_... for Tramix (existing\n"
                           "files are replaced); --file writes the one selected device to FILE.\n"
                           "Results: 0 success, 4 no connection or password refused, 5 length read failed, 6 transfer failed."),
                      [](const std::vector<std::string>& a) { return Run(Op::Export, "export", a); }}};
CliCommand regImport{{"import", "write a configuration text file into devices",
                      Help("import FILE (--mac MAC... | --all) [--update-network] [--yes] [OPTIONS]",
                           "Writes FILE into each device (all of one model; the file's MOD_TYPE must\n"
                           "match), which restarts. Network settings change only with --update-network\n"
                           "and a single device; otherwise NET_CONFIG_OVERWRITE is sent as 0.\n"
                           "Asks for confirmation on a terminal; needs --yes otherwise.\n"
                           "Results: 0 success, 4 no connection or password refused, 5 transfer failed."),
                      [](const std::vector<std::string>& a) { return Run(Op::Import, "import", a); }}};

}  // namespace
}  // namespace orv::cli
