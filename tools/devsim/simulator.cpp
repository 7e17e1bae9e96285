#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <stdexcept>
#include <unordered_map>

#include "discovery.h"
#include "session.h"

extern char** environ;

namespace orv::devsim {
namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string Hex(const uint8_t* data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s(len * 2, '0');
  for (size_t i = 0; i < len; ++i) {
    s[2 * i] = kDigits[data[i] >> 4];
    s[2 * i + 1] = kDigits[data[i] & 15];
  }
  return s;
}

int PrefixLength(const Ip4& m) {
  uint32_t v = uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3];
  return __builtin_popcount(v);
}

// Runs the child with arguments argv, waits for it; true when it exits 0.
bool RunCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Enters a named network namespace for the lifetime of the object.
class NetnsGuard {
 public:
  explicit NetnsGuard(const std::string& name) {
    if (name.empty()) return;
    home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home_ < 0) throw std::runtime_error(Errno("open /proc/self/ns/net"));
    std::string path = "/run/netns/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::string e = Errno("open " + path);
      close(home_);
      throw std::runtime_error(e);
    }
    if (setns(fd, CLONE_NEWNET) != 0) {
      std::string e = Errno("setns " + name);
      close(fd);
      close(home_);
      throw std::runtime_error(e);
    }
    close(fd);
  }
  ~NetnsGuard() {
    if (home_ >= 0) {
      if (setns(home_, CLONE_NEWNET) != 0) abort();  // a loop in the wrong namespace would be worse
      close(home_);
    }
  }

 private:
  int home_ = -1;
};

enum Kind : uint64_t { kUdp = 1, kListen = 2, kConn = 3, kSignal = 4, kWake = 5, kTelnetListen = 6 };
uint64_t Tag(Kind k, uint64_t v) { return uint64_t(k) << 56 | v; }

}  // namespace

struct DeviceSlot;

struct Connection : Link {
  uint64_t id = 0;
  int fd = -1;
  DeviceSlot* slot = nullptr;
  Simulator::Impl* sim = nullptr;
  std::unique_ptr<Session> session;
  std::vector<uint8_t> out;
  size_t outPos = 0;
  bool closing = false;  // flush, then close
  bool dead = false;     // close now
  bool writeArmed = false;

  ~Connection() override { session.reset(); }  // the session may still talk to its link
  void Send(const uint8_t* data, size_t len) override;
  void Close() override;
  void Abort() override;
  void After(int ms, std::function<void()> fn) override;
};

struct DeviceSlot : DeviceControl {
  Device dev;
  Simulator::Impl* sim = nullptr;
  int udpFd = -1;
  int listenFd = -1;
  int telnetFd = -1;
  int logFd = -1;
  int udpPort = 0;
  int tcpPort = 0;
  int telnetPort = 0;
  bool offline = false;
  uint64_t generation = 0;  // bumps on every restart; stale delayed answers die
  std::optional<std::array<Ip4, 3>> pending;

  void Restart(int offlineMs) override;
  void SetPendingAddress(const Ip4& ip, const Ip4& netmask, const Ip4& gateway) override {
    pending = std::array<Ip4, 3>{ip, netmask, gateway};
  }
  void FactoryReset() override;
  void LogFrame(const char* tag, const uint8_t* data, size_t len) override {
    WriteLog(std::string(tag) + " " + Hex(data, len));
  }
  void LogNote(const std::string& text) override { WriteLog("note " + text); }
  void WriteLog(const std::string& body);
};

struct Simulator::Impl {
  SimulatorOptions opt;
  std::vector<std::unique_ptr<DeviceSlot>> slots;
  std::unordered_map<uint64_t, std::unique_ptr<Connection>> conns;
  std::vector<uint64_t> reap;
  uint64_t nextConnId = 1;
  int epfd = -1;
  int sigfd = -1;
  int wakefd = -1;
  std::mt19937 rng;
  // Requests grow by 12 bytes per device already found; 64 KiB holds any UDP payload.
  std::vector<uint8_t> rxBuf = std::vector<uint8_t>(65536);

  struct Timer {
    int64_t when;
    uint64_t seq;
    std::function<void()> fn;
    bool operator>(const Timer& o) const { return when != o.when ? when > o.when : seq > o.seq; }
  };
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers;
  uint64_t timerSeq = 0;

  void AddTimer(int ms, std::function<void()> fn) {
    timers.push(Timer{NowMs() + (ms < 0 ? 0 : ms), timerSeq++, std::move(fn)});
  }

  std::string NetnsOf(const DeviceSlot& s) const {
    if (!s.dev.netns.empty()) return s.dev.netns;
    if (!opt.netnsPrefix.empty()) return opt.netnsPrefix + std::to_string(s.dev.index + 1);
    return "";
  }

  sockaddr_in BindAddr(int port) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, opt.bindAddress.c_str(), &a.sin_addr) != 1)
      throw std::runtime_error("bad bind address " + opt.bindAddress);
    return a;
  }

  void Watch(int fd, uint32_t events, uint64_t tag) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    if (epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) != 0) throw std::runtime_error(Errno("epoll_ctl"));
  }

  // One listening socket in the device's namespace; `port` becomes the port it got.
  int Listen(DeviceSlot& s, int& port, Kind kind) {
    NetnsGuard ns(NetnsOf(s));
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(Errno("socket"));
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = BindAddr(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
      std::string e = Errno("TCP port " + std::to_string(port));
      close(fd);
      throw std::runtime_error(e);
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    try {
      Watch(fd, EPOLLIN, Tag(kind, s.dev.index));
    } catch (...) {
      close(fd);
      throw;
    }
    return fd;
  }

  // Creates the TCP listeners in the device's namespace (at start and after a restart).
  void OpenListener(DeviceSlot& s) {
    s.listenFd = Listen(s, s.tcpPort, kListen);
    if (opt.telnetPort >= 0) s.telnetFd = Listen(s, s.telnetPort, kTelnetListen);
  }

  void OpenDevice(DeviceSlot& s) {
    const std::string where = "device " + std::to_string(s.dev.index + 1) + " (" + s.dev.MacText() +
                              (NetnsOf(s).empty() ? "" : ", namespace " + NetnsOf(s)) + ")";
    try {
      if (!opt.logDir.empty()) {
        std::string path = opt.logDir + "/" + s.dev.MacText() + ".log";
        s.logFd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (s.logFd < 0) throw std::runtime_error(Errno("open " + path));
      }
      s.udpPort = opt.udpPort;
      s.tcpPort = opt.tcpPort;
      s.telnetPort = opt.telnetPort;
      {
        NetnsGuard ns(NetnsOf(s));
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error(Errno("socket"));
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in a = BindAddr(s.udpPort);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
          std::string e = Errno("UDP port " + std::to_string(s.udpPort));
          close(fd);
          throw std::runtime_error(e);
        }
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        s.udpPort = ntohs(a.sin_port);
        s.udpFd = fd;
        Watch(fd, EPOLLIN, Tag(kUdp, s.dev.index));
      }
      OpenListener(s);
    } catch (const std::exception& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
  }

  void OnUdp(DeviceSlot& s) {
    uint8_t* buf = rxBuf.data();
    for (int n = 0; n < 64; ++n) {
      sockaddr_in from{};
      socklen_t flen = sizeof from;
      ssize_t len = recvfrom(s.udpFd, buf, rxBuf.size(), 0, reinterpret_cast<sockaddr*>(&from), &flen);
      if (len < 0) return;  // EAGAIN or a transient error: wait for the next event
      s.LogFrame("udp", buf, static_cast<size_t>(len));
      if (s.offline || s.dev.faults.silent) continue;
      RequestVerdict v = JudgeRequest(buf, static_cast<size_t>(len), s.dev);
      if (v == RequestVerdict::kMalformed) continue;
      if (v == RequestVerdict::kListed && !s.dev.faults.answerAlways) continue;
      std::uniform_int_distribution<int> delay(s.dev.faults.delayMinMs, s.dev.faults.delayMaxMs);
      const uint64_t gen = s.generation;
      DeviceSlot* sp = &s;
      AddTimer(delay(rng), [this, sp, gen, from] {
        if (sp->generation != gen || sp->offline) return;
        SendAnswer(*sp, from);
      });
    }
  }

  void SendAnswer(DeviceSlot& s, const sockaddr_in& to) {
    auto send = [&](const uint8_t* p, size_t n) {
      sendto(s.udpFd, p, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    if (s.dev.faults.malformed) {
      for (size_t size : {size_t(115), size_t(117)}) {
        auto m = BuildMalformed(s.dev, size);
        send(m.data(), m.size());
      }
    }
    Answer a = BuildAnswer(s.dev);
    send(a.data(), a.size());
  }

  void OnAccept(DeviceSlot& s, bool telnet) {
    while (true) {
      int fd = accept4(telnet ? s.telnetFd : s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      if (s.offline) {
        close(fd);
        continue;
      }
      auto c = std::make_unique<Connection>();
      c->id = nextConnId++;
      c->fd = fd;
      c->slot = &s;
      c->sim = this;
      Connection* raw = c.get();
      conns.emplace(c->id, std::move(c));
      try {
        Watch(fd, EPOLLIN | EPOLLRDHUP, Tag(kConn, raw->id));
      } catch (const std::exception&) {
        raw->dead = true;
        reap.push_back(raw->id);
        continue;
      }
      raw->session = telnet ? MakeTelnetSession(s.dev, *raw, s) : MakeCommandSession(s.dev, *raw, s);
    }
  }

  void OnConn(uint64_t id, uint32_t events) {
    auto it = conns.find(id);
    if (it == conns.end()) return;
    Connection& c = *it->second;
    if (c.dead) return;
    if (events & EPOLLOUT) Flush(c);
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      uint8_t buf[4096];
      for (int n = 0; n < 16 && !c.dead && !c.closing; ++n) {
        ssize_t len = recv(c.fd, buf, sizeof buf, 0);
        if (len > 0) {
          if (c.session) c.session->OnData(buf, static_cast<size_t>(len));
          continue;
        }
        if (len == 0) {
          if (c.session) c.session->OnPeerClosed(c);
          else c.Close();
          // A peer that is gone cannot take the rest of a reply.
          if (!c.dead && !c.closing) c.Close();
        } else if (errno != EAGAIN && errno != EINTR) {
          c.dead = true;
        }
        break;
      }
    }
    Settle(c);
  }

  void Flush(Connection& c) {
    while (!c.dead && c.outPos < c.out.size()) {
      ssize_t n = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
      if (n > 0) {
        c.outPos += static_cast<size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        break;
      } else {
        c.dead = true;
      }
    }
    if (c.outPos == c.out.size()) {
      c.out.clear();
      c.outPos = 0;
    }
    bool want = !c.dead && c.outPos < c.out.size();
    if (want != c.writeArmed) {
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLRDHUP | (want ? EPOLLOUT : 0u);
      ev.data.u64 = Tag(kConn, c.id);
      epoll_ctl(epfd, EPOLL_CTL_MOD, c.fd, &ev);
      c.writeArmed = want;
    }
  }

  // Queues the connection for removal once it has nothing more to say.
  void Settle(Connection& c) {
    if (c.dead || (c.closing && c.out.empty())) reap.push_back(c.id);
  }

  void Reap() {
    while (!reap.empty()) {
      std::vector<uint64_t> ids;
      ids.swap(reap);
      for (uint64_t id : ids) {
        auto it = conns.find(id);
        if (it == conns.end()) continue;
        Connection& c = *it->second;
        if (!c.dead && !(c.closing && c.out.empty())) continue;
        epoll_ctl(epfd, EPOLL_CTL_DEL, c.fd, nullptr);
        if (!c.dead) shutdown(c.fd, SHUT_WR);
        close(c.fd);
        conns.erase(it);  // destroys the session, outside any of its calls
      }
    }
  }

  void RunTimers() {
    const int64_t now = NowMs();
    while (!timers.empty() && timers.top().when <= now) {
      auto fn = std::move(const_cast<Timer&>(timers.top()).fn);
      timers.pop();
      fn();
      Reap();
    }
  }

  void BringBack(DeviceSlot& s) {
    if (s.pending) {
      const auto [ip, mask, gw] = *s.pending;
      s.pending.reset();
      s.dev.ip = ip;
      s.dev.netmask = mask;
      s.dev.gateway = gw;
      const std::string ns = NetnsOf(s);
      if (opt.moveAddresses && !ns.empty()) {
        const std::string cidr = IpText(s.dev.LiveAddress()) + "/" + std::to_string(PrefixLength(mask));
        bool ok = RunCommand({"ip", "-n", ns, "addr", "flush", "dev", "eth0"}) &&
                  RunCommand({"ip", "-n", ns, "addr", "add", cidr, "dev", "eth0"}) &&
                  RunCommand({"ip", "-n", ns, "route", "replace", "default", "dev", "eth0"});
        s.LogNote(std::string(ok ? "moved to " : "failed to move to ") + cidr);
      } else {
        s.LogNote("address now " + IpText(s.dev.ip));
      }
    }
    try {
      OpenListener(s);
    } catch (const std::exception& e) {
      s.LogNote(std::string("cannot listen again: ") + e.what());
    }
    s.offline = false;
    s.LogNote("online");
  }
};

void DeviceSlot::WriteLog(const std::string& body) {
  if (logFd < 0) return;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  gmtime_r(&ts.tv_sec, &t);
  char stamp[40];
  size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &t);
  std::snprintf(stamp + n, sizeof stamp - n, ".%03ldZ", ts.tv_nsec / 1000000);
  std::string line = std::string(stamp) + " " + dev.MacText() + " " + body + "\n";
  // One write per line: readers never see half a line, and nothing is buffered.
  ssize_t r = write(logFd, line.data(), line.size());
  (void)r;
}

void DeviceSlot::Restart(int offlineMs) {
  LogNote("restart, offline " + std::to_string(offlineMs) + " ms");
  ++generation;
  offline = true;
  for (auto& [id, c] : sim->conns) {
    if (c->slot == this && !c->dead) {
      c->closing = true;
      sim->Flush(*c);
      sim->Settle(*c);
    }
  }
  for (int* fd : {&listenFd, &telnetFd}) {
    if (*fd >= 0) {
      epoll_ctl(sim->epfd, EPOLL_CTL_DEL, *fd, nullptr);
      close(*fd);
      *fd = -1;
    }
  }
  const uint64_t gen = generation;
  sim->AddTimer(offlineMs, [this, gen] {
    if (generation == gen) sim->BringBack(*this);
  });
}

void DeviceSlot::FactoryReset() {
  LogNote("factory reset");
  dev.password = dev.factory.password;
  dev.addressMode = dev.factory.addressMode;
  dev.configText = dev.factory.configText;
  pending = std::array<Ip4, 3>{dev.factory.ip, dev.factory.netmask, dev.factory.gateway};
}

void Connection::Send(const uint8_t* data, size_t len) {
  if (dead || closing || len == 0) return;
  out.insert(out.end(), data, data + len);
  sim->Flush(*this);
  sim->Settle(*this);
}

void Connection::Close() {
  if (dead || closing) return;
  closing = true;
  sim->Settle(*this);
}

void Connection::Abort() {
  if (dead) return;
  linger l{1, 0};  // close with a reset
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  dead = true;
  sim->Settle(*this);
}

void Connection::After(int ms, std::function<void()> fn) {
  const uint64_t myId = id;
  Simulator::Impl* s = sim;
  sim->AddTimer(ms, [s, myId, fn = std::move(fn)] {
    auto it = s->conns.find(myId);
    if (it == s->conns.end() || it->second->dead || it->second->closing) return;
    fn();
    s->Settle(*it->second);
  });
}

Simulator::Simulator(std::vector<Device> devices, SimulatorOptions options) : impl_(new Impl) {
  impl_->opt = std::move(options);
  impl_->rng.seed(impl_->opt.seed ? impl_->opt.seed : std::random_device{}());
  for (auto& d : devices) {
    auto s = std::make_unique<DeviceSlot>();
    s->dev = std::move(d);
    s->sim = impl_.get();
    impl_->slots.push_back(std::move(s));
  }
  for (size_t i = 0; i < impl_->slots.size(); ++i) impl_->slots[i]->dev.index = i;
}

Simulator::~Simulator() {
  Impl& m = *impl_;
  for (auto& [id, c] : m.conns) {
    c->dead = true;  // a session that talks while going away is not heard
    c->session.reset();
    close(c->fd);
  }
  m.conns.clear();
  for (auto& s : m.slots) {
    if (s->udpFd >= 0) close(s->udpFd);
    if (s->listenFd >= 0) close(s->listenFd);
    if (s->telnetFd >= 0) close(s->telnetFd);
    if (s->logFd >= 0) close(s->logFd);
  }
  if (m.epfd >= 0) close(m.epfd);
  if (m.sigfd >= 0) close(m.sigfd);
  if (m.wakefd >= 0) close(m.wakefd);
}

void Simulator::Open() {
  Impl& m = *impl_;
  m.epfd = epoll_create1(EPOLL_CLOEXEC);
  if (m.epfd < 0) throw std::runtime_error(Errno("epoll_create1"));
  m.wakefd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m.wakefd < 0) throw std::runtime_error(Errno("eventfd"));
  m.Watch(m.wakefd, EPOLLIN, Tag(kWake, 0));
  for (auto& s : m.slots) m.OpenDevice(*s);
}

std::vector<DeviceEndpoint> Simulator::Endpoints() const {
  std::vector<DeviceEndpoint> out;
  for (const auto& s : impl_->slots)
    out.push_back({s->dev.MacText(), impl_->NetnsOf(*s), s->udpPort, s->tcpPort,
                   impl_->opt.telnetPort >= 0 ? s->telnetPort : 0});
  return out;
}

void Simulator::Stop() {
  uint64_t one = 1;
  ssize_t r = write(impl_->wakefd, &one, sizeof one);
  (void)r;
}

void Simulator::Run() {
  Impl& m = *impl_;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m.sigfd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (m.sigfd < 0) throw std::runtime_error(Errno("signalfd"));
  m.Watch(m.sigfd, EPOLLIN, Tag(kSignal, 0));

  epoll_event events[256];
  while (true) {
    int timeout = -1;
    if (!m.timers.empty()) {
      int64_t d = m.timers.top().when - NowMs();
      timeout = d < 0 ? 0 : static_cast<int>(std::min<int64_t>(d, 60000));
    }
    int n = epoll_wait(m.epfd, events, 256, timeout);
    if (n < 0 && errno != EINTR) throw std::runtime_error(Errno("epoll_wait"));
    for (int i = 0; i < n; ++i) {
      uint64_t tag = events[i].data.u64;
      uint64_t v = tag & ((uint64_t(1) << 56) - 1);
      switch (static_cast<Kind>(tag >> 56)) {
        case kUdp: m.OnUdp(*m.slots[v]); break;
        case kListen:
          if (m.slots[v]->listenFd >= 0) m.OnAccept(*m.slots[v], false);
          break;
        case kTelnetListen:
          if (m.slots[v]->telnetFd >= 0) m.OnAccept(*m.slots[v], true);
          break;
        case kConn: m.OnConn(v, events[i].events); break;
        case kSignal:
        case kWake: return;
      }
      m.Reap();
    }
    m.RunTimers();
  }
}

}  // namespace orv::devsim
