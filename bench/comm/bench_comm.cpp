// Device exchange cost against a bare socket ping-pong on loopback.
//  1. One ModbusTransaction round trip vs a blocking send/recv of the same
//     12-byte frame on one TCP connection to the same responder, interleaved
//     in rounds, medians compared.
//  2. A 1 MiB firmware transfer vs the bare round trip of one block-sized
//     request (263 bytes out, 12 back) times the number of blocks.
// Usage: bench_comm [rounds=40] [per_round=250] [reply_delay_us=0]
// reply_delay_us makes the responder wait before each reply, as a device
// that needs time to act on a request does (0: answer at once).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "comm/transaction.h"
#include "devices/io_mod_remote_e.h"
#include "devices/wait_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

bool ReadAll(int fd, uint8_t* p, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd, p + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// Answers every request with the 12-byte reply of a write (header, function
// code and the four bytes after it), one connection at a time.
class Responder {
 public:
  explicit Responder(int delayUs) : delayUs_(delayUs) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 16);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  uint16_t port() const { return port_; }

 private:
  void Serve() {
    while (!stop_) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::thread([fd, delay = delayUs_] {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        uint8_t buf[512];
        for (;;) {
          if (!ReadAll(fd, buf, 6)) break;
          const size_t rest = static_cast<size_t>(buf[4] << 8 | buf[5]);
          if (rest < 6 || rest > 500 || !ReadAll(fd, buf + 6, rest)) break;
          if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
          buf[4] = 0;
          buf[5] = 6;
          if (::send(fd, buf, 12, MSG_NOSIGNAL) != 12) break;
        }
        ::close(fd);
      }).detach();
    }
  }
  int delayUs_ = 0;
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

class NoWait : public orv::TRestartWait {
 public:
  void ShowModal() override {}
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  const int perRound = argc > 2 ? std::atoi(argv[2]) : 250;
  const int delayUs = argc > 3 ? std::atoi(argv[3]) : 0;
  Responder responder(delayUs);
  std::printf("loopback responder, reply delay %d us\n", delayUs);

  orv::TIOModRemoteE mod(1, 0, 16, 8);
  mod.Init(nullptr, nullptr, nullptr);
  orv::TIOObjList list;
  mod.AddIO(&list, nullptr, "127.0.0.1", "", "", "", "", "", "");
  mod.pSockets[0]->SetPort(responder.port());

  // 1. Round trip of one 12-byte request.
  const int raw = Connect(responder.port());
  uint8_t frame[12] = {0, 1, 0, 0, 0, 6, 1, 0x6A, 0x80, 0xF5, 0x01, 0x00};
  uint8_t reply[256];
  std::vector<double> floorUs, txUs;
  // Warm up both paths (the transaction path connects on its first request).
  for (int i = 0; i < 200; ++i) {
    (void)!::send(raw, frame, 12, MSG_NOSIGNAL);
    ReadAll(raw, reply, 12);
    mod.ModbusTransaction(6, 0x80F6, 0x0100, nullptr, reply, true, 5000, false);
  }
  // Small alternating batches, so both sides see the same machine load.
  for (int r = 0; r < rounds * perRound / 10; ++r) {
    for (int i = 0; i < 10; ++i) {
      const auto t0 = Clock::now();
      (void)!::send(raw, frame, 12, MSG_NOSIGNAL);
      if (!ReadAll(raw, reply, 12)) return 1;
      floorUs.push_back(Micros(Clock::now() - t0));
    }
    for (int i = 0; i < 10; ++i) {
      const auto t0 = Clock::now();
      if (mod.ModbusTransaction(6, 0x80F6, 0x0100, nullptr, reply, true, 5000, false) != 12) {
        std::fprintf(stderr, "transaction failed\n");
        return 1;
      }
      txUs.push_back(Micros(Clock::now() - t0));
    }
  }
  mod.SetOnline(false);
  const double floorMed = Median(floorUs);
  const double txMed = Median(txUs);
  std::printf("round trip (12-byte request, 12-byte reply), %d samples each:\n",
              rounds * perRound);
  std::printf("  floor send/recv     median %8.2f us\n", floorMed);
  std::printf("  ModbusTransaction   median %8.2f us\n", txMed);
  std::printf("  ratio                      %8.3f (target <= 1.3)\n", txMed / floorMed);

  // 2. 1 MiB firmware transfer.
  const uint32_t length = 1u << 20;
  std::vector<uint8_t> image(length);
  for (uint32_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 131);
  const uint32_t blocks = orv::TransferBlocks(length);
  uint8_t blockFrame[263] = {0, 1, 0, 0, 0x01, 0x01, 1, 0x74, 0x82, 0x10, 0, 115, 230};
  NoWait noWait;
  orv::SetRestartWait(&noWait);
  // Floor run and upgrade alternate, five of each.
  std::vector<double> floorRunMs, upgradeMs;
  for (int run = 0; run < 5; ++run) {
    auto t0 = Clock::now();
    for (uint32_t i = 0; i < blocks; ++i) {
      (void)!::send(raw, blockFrame, sizeof blockFrame, MSG_NOSIGNAL);
      if (!ReadAll(raw, reply, 12)) return 1;
    }
    floorRunMs.push_back(Micros(Clock::now() - t0) / 1000.0);
    t0 = Clock::now();
    const int32_t r = mod.muUgdFW(nullptr, 0x1234, length, image.data(), "");
    upgradeMs.push_back(Micros(Clock::now() - t0) / 1000.0);
    if (r != 0) {
      std::fprintf(stderr, "upgrade failed: %d\n", r);
      return 1;
    }
  }
  ::close(raw);
  orv::SetRestartWait(nullptr);
  const double floorMs = Median(floorRunMs);
  const double blockFloor = floorMs * 1000.0 / blocks;
  const double upMed = Median(upgradeMs);
  std::printf("firmware upgrade, 1 MiB image, %u blocks, 5 runs:\n", blocks);
  std::printf("  floor: %u bare block round trips median %8.1f ms (%.2f us each)\n", blocks,
              floorMs, blockFloor);
  std::printf("  muUgdFW                median %8.1f ms\n", upMed);
  std::printf("  ratio                         %8.3f (target <= 1.3)\n", upMed / floorMs);
  mod.Quit();
  return 0;
}
