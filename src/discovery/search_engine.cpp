#include "discovery/search_engine.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "common/trace.h"
#include "discovery/ip_check.h"

namespace orv {

std::atomic<bool> SearchStopped{false};

int64_t SteadySearchClock::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SearchEngine::SearchEngine(SearchTransport& transport, SearchClock& clock, SearchResultSink& sink)
    : transport_(transport), clock_(clock), handler_(request_, sink) {
  ORV_TRACE("SearchEngine::SearchEngine");
  SearchStopped = false;
}

SearchEngine::~SearchEngine() { BCUDPClose(); }

bool SearchEngine::SetupProgress() {
  ORV_TRACE("SearchEngine::SetupProgress");
  const int64_t t = remaining_;
  const int64_t divisor = t * 2 / 3;
  if (divisor < 1) return false;  // T < 2: nothing sensible to show
  const int64_t max = t * 200 / 3;
  if (max > INT_MAX) return false;
  const int64_t pos = max / divisor;
  if (cb_.progressSetup) {
    cb_.progressSetup(0, static_cast<int>(max), static_cast<int>(pos), static_cast<int>(pos));
  }
  return true;
}

bool SearchEngine::BCUDPInit() {
  ORV_TRACE("SearchEngine::BCUDPInit");
  failure_ = SearchFailure{};
  const std::string nic = TrimIPText(nicIP_);
  const std::optional<uint32_t> local = ParseIPText(nic);
  if (!local) {
    failure_.stage = SearchFailure::Stage::Address;
    failure_.err = EADDRNOTAVAIL;
    failure_.reason = nic.empty() ? "no search interface address is set"
                                  : "search interface address '" + nic + "' is not an IPv4 address";
    ORV_TRACE("BCUDPInit: " + failure_.reason);
    return false;
  }
  SearchTransport::OpenStage stage = SearchTransport::OpenStage::Socket;
  SocketError error;
  if (!transport_.Open(*local, kSearchLocalPort, stage, error)) {
    failure_.err = error.err;
    const std::string where = nic + ":" + std::to_string(kSearchLocalPort);
    if (stage == SearchTransport::OpenStage::Socket) {
      failure_.stage = SearchFailure::Stage::Socket;
      failure_.reason = "cannot create the search socket: " + error.text;
    } else {
      failure_.stage = SearchFailure::Stage::Bind;
      failure_.reason = "cannot bind the search socket to " + where + ": " + error.text;
      if (error.err == EADDRINUSE) {
        failure_.reason += " (another search is running?)";
      } else if (error.err == EADDRNOTAVAIL) {
        failure_.reason += " (" + nic + " is not an address of this host)";
      }
    }
    ORV_TRACE("BCUDPInit: " + failure_.reason);
    return false;
  }
  ORV_TRACE("BCUDPInit: bound " + nic + ":" + std::to_string(kSearchLocalPort));
  return true;
}

bool SearchEngine::BCUDPSend() {
  ORV_TRACE("SearchEngine::BCUDPSend");
  request_.EnsureHeader();
  SocketError error;
  if (!transport_.SetBroadcast(error)) {
    ++stats_.sendsFailed;
    stats_.lastSendError = "cannot enable broadcast: " + error.text;
    return false;
  }
  const std::span<const uint8_t> datagram = request_.Finalize();
  ORV_TRACE("search request " + std::to_string(datagram.size()) + " bytes: " + HexText(datagram));
  if (!transport_.SendTo(kSearchBroadcastAddr, kSearchDevicePort, datagram, error)) {
    ++stats_.sendsFailed;
    stats_.lastSendError = "cannot send the search request: " + error.text;
    ORV_TRACE(stats_.lastSendError);
    return false;
  }
  ++stats_.sendsOk;
  return true;
}

int SearchEngine::BCUDPRecv(int timeoutMs) {
  ORV_TRACE("SearchEngine::BCUDPRecv");
  if (timeoutMs <= 0) timeoutMs = 500;
  uint8_t buffer[kAnswerSize];
  const int64_t start = clock_.NowMs();
  const int64_t limit = static_cast<int64_t>(kMaxPhaseTimeouts) * timeoutMs;
  while (true) {
    if (SearchStopped) return 0;
    if (clock_.NowMs() - start >= limit) return 1;
    const SearchTransport::RecvResult r = transport_.Recv(buffer, timeoutMs);
    switch (r.status) {
      case SearchTransport::RecvStatus::Timeout:
        return 1;
      case SearchTransport::RecvStatus::Error:
        ORV_TRACE("BCUDPRecv: receive error " + std::string(std::strerror(r.err)));
        return 1;
      case SearchTransport::RecvStatus::Truncated:
        ++stats_.datagrams;  // larger than an answer: dropped
        continue;
      case SearchTransport::RecvStatus::Datagram:
        ++stats_.datagrams;
        if (r.length != kAnswerSize) continue;
        ++stats_.answers;
        handler_.OnEnumProc(std::span<const uint8_t>(buffer, r.length));
        continue;
    }
  }
}

void SearchEngine::BCUDPClose() {
  if (transport_.IsOpen()) {
    ORV_TRACE("SearchEngine::BCUDPClose");
    transport_.Close();
  }
}

void SearchEngine::EnableTimer() {
  timerEnabled_ = true;
  lastTickMs_ = clock_.NowMs();
}

void SearchEngine::do_search() {
  ORV_TRACE("SearchEngine::do_search");
  EnableTimer();
  if (BCUDPInit()) {
    // T is read again before every cycle: the timer lowers it meanwhile.
    for (int i = 0; i < remaining_; ++i) {
      ++stats_.cycles;
      if (!BCUDPSend()) continue;  // skipped: no pump, no receive
      PumpEvents();
      BCUDPRecv(kTimerIntervalMs);
      SetStopEnabled(true);
      if (SearchStopped) break;
    }
  }
  BCUDPClose();
}

void SearchEngine::PumpEvents() {
  ++stats_.pumps;
  if (cb_.processEvents) cb_.processEvents();
  if (!timerEnabled_) return;
  const int64_t now = clock_.NowMs();
  if (now - lastTickMs_ >= kTimerIntervalMs) {
    lastTickMs_ = now;
    Timer1Timer();
  }
}

void SearchEngine::Timer1Timer() {
  ORV_TRACE("SearchEngine::Timer1Timer");
  ++stats_.ticks;
  if (remaining_ == 0 || SearchStopped) {
    timerEnabled_ = false;
    if (cb_.closeDialog) cb_.closeDialog();
    SearchStopped = true;  // closing the dialog always stops the search
    return;
  }
  if (cb_.progressStep) cb_.progressStep();
  --remaining_;
}

void SearchEngine::btnStopClick() {
  ORV_TRACE("SearchEngine::btnStopClick");
  if (!stopEnabled_) return;  // a disabled button takes no clicks
  SetStopEnabled(false);
  SearchStopped = true;
  transport_.Interrupt();  // the receive under way ends now, not at its time-out
}

void SearchEngine::SetStopEnabled(bool enabled) {
  stopEnabled_ = enabled;
  if (cb_.stopEnabled) cb_.stopEnabled(enabled);
}

}  // namespace orv
