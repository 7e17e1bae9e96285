// The real UDP socket, on loopback only: binding, the port held by a running
// search, and how datagrams of each size arrive. Nothing is broadcast.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "discovery/udp_transport.h"
#include "test_support.h"

namespace orv {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// Sends datagrams to 127.0.0.1:13000 from an ephemeral loopback port.
class LoopbackSender {
 public:
  LoopbackSender() { fd_ = ::socket(AF_INET, SOCK_DGRAM, 0); }
  ~LoopbackSender() { ::close(fd_); }
  void Send(const std::vector<uint8_t>& d) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kSearchLocalPort);
    to.sin_addr.s_addr = htonl(kLoopback);
    ASSERT_EQ(::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(d.size()));
  }

 private:
  int fd_;
};

void SecondSearchOnTheSamePortFailsAtBind() {
  std::vector<IONODE> found;
  FoundListSink sink(found);
  SteadySearchClock clock;
  UdpSearchTransport first;
  SearchEngine running(first, clock, sink);
  running.SetNicIP("127.0.0.1");
  ASSERT_TRUE(running.BCUDPInit()) << running.Failure().reason;
  EXPECT_TRUE(first.IsOpen());
  EXPECT_GT(first.EffectiveRcvBuf(), 0);

  UdpSearchTransport second;
  SearchEngine other(second, clock, sink);
  other.SetNicIP("127.0.0.1");
  EXPECT_FALSE(other.BCUDPInit());
  EXPECT_EQ(other.Failure().stage, SearchFailure::Stage::Bind);
  EXPECT_EQ(other.Failure().err, EADDRINUSE);
  std::string reason = other.Failure().reason;
  for (char& c : reason) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(reason.find("address already in use"), std::string::npos) << reason;
  EXPECT_FALSE(second.IsOpen());

  running.BCUDPClose();
  EXPECT_FALSE(first.IsOpen());
  UdpSearchTransport third;
  SearchEngine next(third, clock, sink);
  next.SetNicIP("127.0.0.1");
  EXPECT_TRUE(next.BCUDPInit()) << next.Failure().reason;
}

void DatagramSizesAndTimeOut() {
  UdpSearchTransport t;
  SearchTransport::OpenStage stage;
  SocketError error;
  ASSERT_TRUE(t.Open(kLoopback, kSearchLocalPort, stage, error)) << error.text;
  LoopbackSender sender;
  const auto answer = test::DeviceAnswer(5);
  auto small = answer;
  small.resize(115);
  auto big = answer;
  big.resize(117, 0x55);
  sender.Send(small);
  sender.Send(big);
  sender.Send(answer);

  uint8_t buf[kAnswerSize];
  auto r = t.Recv(buf, 500);
  EXPECT_EQ(r.status, SearchTransport::RecvStatus::Datagram);
  EXPECT_EQ(r.length, 115u);
  r = t.Recv(buf, 500);
  EXPECT_EQ(r.status, SearchTransport::RecvStatus::Truncated);
  r = t.Recv(buf, 500);
  EXPECT_EQ(r.status, SearchTransport::RecvStatus::Datagram);
  ASSERT_EQ(r.length, 116u);
  EXPECT_TRUE(std::equal(answer.begin(), answer.end(), buf));
  r = t.Recv(buf, 50);
  EXPECT_EQ(r.status, SearchTransport::RecvStatus::Timeout);
}

void ReceivePhaseHandsAnswersToAnswerHandling() {
  std::vector<IONODE> found;
  FoundListSink sink(found);
  SteadySearchClock clock;
  UdpSearchTransport t;
  SearchEngine engine(t, clock, sink);
  engine.SetNicIP("127.0.0.1");
  ASSERT_TRUE(engine.BCUDPInit()) << engine.Failure().reason;
  LoopbackSender sender;
  auto big = test::DeviceAnswer(1);
  big.resize(117);
  sender.Send(big);
  for (int k = 1; k <= 50; ++k) sender.Send(test::DeviceAnswer(k));
  sender.Send(test::DeviceAnswer(3));
  EXPECT_EQ(engine.BCUDPRecv(100), 1);
  EXPECT_EQ(found.size(), 50u);
  EXPECT_EQ(engine.Stats().datagrams, 52u);
  EXPECT_EQ(engine.Request().EntryCount(), 50u);
}

// One test, so that ctest never runs two of these side by side on the port.
TEST(UdpSearchTransport, LoopbackSocket) {
  {
    SCOPED_TRACE("bind and port in use");
    SecondSearchOnTheSamePortFailsAtBind();
  }
  {
    SCOPED_TRACE("datagram sizes");
    DatagramSizesAndTimeOut();
  }
  {
    SCOPED_TRACE("receive phase");
    ReceivePhaseHandsAnswersToAnswerHandling();
  }
}

}  // namespace
}  // namespace orv
