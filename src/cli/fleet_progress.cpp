#include "cli/fleet_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace orv::cli {
namespace {

std::string Clock2(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 60, s % 60);
  return buf;
}

std::size_t TerminalSize(int fd, std::size_t* rows) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
    *rows = ws.ws_row > 0 ? ws.ws_row : 24;
    return ws.ws_col;
  }
  *rows = 24;
  return 80;
}

}  // namespace

FleetProgress::FleetProgress(std::FILE* err, bool terminal, std::size_t total, int32_t blocksPerDevice,
                             int32_t bytesPerBlock)
    : err_(err), terminal_(terminal), total_(total), blocksPerDevice_(blocksPerDevice),
      bytesPerBlock_(bytesPerBlock) {
  if (terminal_) ticker_ = std::thread([this] { Ticker(); });
}

FleetProgress::~FleetProgress() { Close(); }

void FleetProgress::Started(std::size_t index, const std::string& mac, const std::string& ip) {
  std::lock_guard<std::mutex> g(mu_);
  active_[index] = Active{mac, ip, Clock::now()};
  dirty_ = true;
}

void FleetProgress::Blocks(std::size_t index, int32_t done) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = active_.find(index);
  if (it == active_.end()) return;
  it->second.blocks = done;
  dirty_ = true;
}

void FleetProgress::Countdown(std::size_t index, int32_t remaining) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = active_.find(index);
  if (it == active_.end()) return;
  if (!terminal_ && remaining >= 0 && it->second.countdown < 0)
    std::fprintf(err_, "%s: waiting for the device to restart\n", it->second.mac.c_str());
  it->second.countdown = remaining;
  dirty_ = true;
}

void FleetProgress::Finished(std::size_t index, const std::string& line, std::FILE* out) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = active_.find(index);
  if (it != active_.end()) {
    if (!terminal_ && blocksPerDevice_ > 0)
      std::fprintf(err_, "%s: %d of %d blocks sent\n", it->second.mac.c_str(), it->second.blocks,
                   blocksPerDevice_);
    active_.erase(it);
  }
  ++done_;
  if (terminal_) Erase();
  if (!line.empty() && out) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
  }
  dirty_ = true;  // the ticker redraws within 100 ms
}

void FleetProgress::Close() {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (closed_) return;
    closed_ = true;
    if (terminal_) Erase();
  }
  cv_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

std::vector<std::string> FleetProgress::Lines(Clock::time_point now, std::size_t width) const {
  std::vector<std::string> out;
  char buf[256];
  for (const auto& [index, a] : active_) {
    std::string line = "  " + a.mac + "  " + a.ip;
    if (a.countdown >= 0) {
      line += "  restarting " + std::to_string(a.countdown);
    } else if (blocksPerDevice_ > 0) {
      const double secs = std::chrono::duration<double>(now - a.since).count();
      const double rate = secs > 0 ? a.blocks * static_cast<double>(bytesPerBlock_) / 1024.0 / secs : 0;
      std::snprintf(buf, sizeof buf, "  block %d/%d  %3d%%  %.1f KiB/s", a.blocks, blocksPerDevice_,
                    static_cast<int>(100LL * a.blocks / blocksPerDevice_), rate);
      line += buf;
    } else {
      line += "  working";
    }
    out.push_back(std::move(line));
  }
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string overall = std::to_string(done_) + "/" + std::to_string(total_) + " devices done, " +
                        Clock2(elapsed) + " elapsed, ";
  if (done_ == 0)
    overall += "estimating";
  else
    overall += "about " + Clock2(elapsed / static_cast<double>(done_) * static_cast<double>(total_ - done_)) + " left";
  out.push_back(overall);
  if (width > 0)
    for (auto& l : out)
      if (l.size() >= width) l.resize(width - 1);  // a wrapped line would spoil the redraw
  return out;
}

void FleetProgress::Erase() {
  if (drawn_ == 0) return;
  std::fprintf(err_, "\r\x1b[%zuA\x1b[J", drawn_);
  std::fflush(err_);
  drawn_ = 0;
}

void FleetProgress::Draw() {
  std::size_t rows = 24;
  const std::size_t cols = TerminalSize(::fileno(err_), &rows);
  std::vector<std::string> lines = Lines(Clock::now(), cols);
  if (lines.size() + 2 > rows && rows > 3) {
    // Keep the block on screen: the overall line and as many devices as fit.
    const std::size_t keep = rows - 3;
    const std::size_t more = lines.size() - 1 - keep;
    std::string overall = lines.back();
    lines.resize(keep);
    lines.push_back("  ... and " + std::to_string(more) + " more");
    lines.push_back(overall);
  }
  Erase();
  for (const auto& l : lines) std::fprintf(err_, "%s\n", l.c_str());
  std::fflush(err_);
  drawn_ = lines.size();
  dirty_ = false;
  lastDraw_ = Clock::now();
}

void FleetProgress::Ticker() {
  std::unique_lock<std::mutex> lk(mu_);
  while (!closed_) {
    cv_.wait_for(lk, std::chrono::milliseconds(100));
    if (closed_) break;
    // At most ten redraws a second; the elapsed time moves once a second.
    if (Clock::now() - lastDraw_ >= std::chrono::milliseconds(100) &&
        (dirty_ || Clock::now() - lastDraw_ >= std::chrono::seconds(1)))
      Draw();
  }
}

}  // namespace orv::cli
