#pragma once
// A scripted Modbus/TCP peer on 127.0.0.1 for tests: accepts connections one
// after the other, reads whole request frames, records them, and answers as
// the script says (reply in pieces, no reply, close, close mid-reply).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::test {

using Bytes = std::vector<uint8_t>;

struct PeerAction {
  enum Kind { Reply, Silent, Close } kind = Reply;
  Bytes reply;
  // Sizes of the pieces the reply is sent in (empty: all at once).
  std::vector<size_t> pieces;
  int pieceDelayMs = 20;
  // After sending (Reply) or instead of it, close the connection.
  bool closeAfter = false;

  static PeerAction Send(Bytes b) { PeerAction a; a.reply = std::move(b); return a; }
  static PeerAction NoReply() { PeerAction a; a.kind = Silent; return a; }
  static PeerAction Drop() { PeerAction a; a.kind = Close; return a; }
};

struct RecordedFrame {
  int connection;  // 0-based connection number
  Bytes bytes;
};

// Normal reply to a request frame, as a device gives it: reads get their
// register data from `data` (zeros if short), writes are echoed.
inline Bytes NormalReply(const Bytes& req, const Bytes& data = {}) {
  Bytes r(req.begin(), req.begin() + 8);
  const uint8_t fc = req[7];
  if (fc >= 101 && fc <= 104) {
    const uint16_t count = static_cast<uint16_t>(req[10] << 8 | req[11]);
    const size_t n = fc <= 102 ? (count + 7) / 8 : 2u * count;
    r.push_back(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i) r.push_back(i < data.size() ? data[i] : 0);
  } else {
    for (size_t i = 8; i < 12 && i < req.size(); ++i) r.push_back(req[i]);
  }
  const size_t len = r.size() - 6;
  r[4] = static_cast<uint8_t>(len >> 8);
  r[5] = static_cast<uint8_t>(len & 0xFF);
  return r;
}

inline Bytes ExceptionReply(const Bytes& req, uint8_t code = 2) {
  Bytes r(req.begin(), req.begin() + 8);
  r[4] = 0;
  r[5] = 3;
  r[7] = static_cast<uint8_t>(req[7] | 0x80);
  r.push_back(code);
  return r;
}

class ScriptedPeer {
 public:
  // script(frame, connection, index of the frame on that connection)
  using Script = std::function<PeerAction(const Bytes& frame, int connection, int index)>;

  explicit ScriptedPeer(Script script) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~ScriptedPeer() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }

  uint16_t port() const { return port_; }
  int connections() const { return connections_.load(); }
  // Connections the client has closed (seen as end of stream by the peer).
  int closedByClient() const { return closedByClient_.load(); }

  std::vector<RecordedFrame> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  bool ReadExact(int fd, uint8_t* p, size_t n, bool& eof) {
    size_t got = 0;
    while (got < n) {
      pollfd pf{fd, POLLIN, 0};
      const int pr = ::poll(&pf, 1, 50);
      if (stop_) return false;
      if (pr <= 0) continue;
      const ssize_t r = ::recv(fd, p + got, n - got, 0);
      if (r <= 0) {
        eof = true;
        return false;
      }
      got += static_cast<size_t>(r);
    }
    return true;
  }

  void Serve() {
    while (!stop_) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      const int conn = connections_++;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      bool open = true;
      for (int index = 0; open && !stop_; ++index) {
        uint8_t head[6];
        bool eof = false;
        if (!ReadExact(fd, head, 6, eof)) {
          if (eof) ++closedByClient_;
          break;
        }
        const size_t rest = static_cast<size_t>(head[4] << 8 | head[5]);
        Bytes frame(head, head + 6);
        frame.resize(6 + rest);
        if (!ReadExact(fd, frame.data() + 6, rest, eof)) {
          if (eof) ++closedByClient_;
          break;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          frames_.push_back({conn, frame});
        }
        const PeerAction a = script_(frame, conn, index);
        if (a.kind == PeerAction::Close) break;
        if (a.kind == PeerAction::Reply) {
          size_t off = 0;
          std::vector<size_t> pieces = a.pieces;
          if (pieces.empty()) pieces.push_back(a.reply.size());
          for (size_t k = 0; k < pieces.size() && off < a.reply.size(); ++k) {
            const size_t n = std::min(pieces[k], a.reply.size() - off);
            if (k > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.pieceDelayMs));
            (void)!::send(fd, a.reply.data() + off, n, MSG_NOSIGNAL);
            off += n;
          }
        }
        if (a.closeAfter) open = false;
      }
      ::close(fd);
    }
  }

  Script script_;
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> closedByClient_{0};
  mutable std::mutex mutex_;
  std::vector<RecordedFrame> frames_;
  std::thread thread_;
};

}  // namespace orv::test
