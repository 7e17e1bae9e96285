// The simulator's discovery side without namespaces: fleet files, the answer
// layout, and the loop serving devices on loopback ports.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "discovery.h"
#include "fleet.h"
#include "simulator.h"

namespace orv::devsim {
namespace {

std::string Fleet(const std::string& devices) { return R"({"devices":[)" + devices + "]}"; }

std::string ErrorOf(const std::string& text) {
  try {
    ParseFleet(text);
  } catch (const FleetError& e) {
    return e.what();
  }
  return "";
}

TEST(FleetFile, ReadsEveryFieldAndItsDefaults) {
  auto devs = ParseFleet(Fleet(R"(
    {"hwid":"0x0115","mac":"00-0a-1b-2c-3d-4e","ip":"0.0.0.0"},
    {"hwid":385,"apid":"0x00000181","mac":"02:00:00:00:00:02","ip":"192.168.50.10","netmask":"255.255.0.0",
     "gateway":"192.168.50.1","firmware":"2.0","lock":"0xFF","server_name":[65,66,67],"password":"abc",
     "address_mode":4,"config":"X=1\r\n","netns":"tc-x",
     "faults":{"silent":true,"answer_always":true,"delay_ms":[5,7],"malformed":true,"wrong_apid":true,
               "restart_offline_ms":3000}})"));
  ASSERT_EQ(devs.size(), 2u);
  const Device& a = devs[0];
  EXPECT_EQ(a.hwid, 0x0115);
  EXPECT_EQ(a.apid, 0x80000115u);
  EXPECT_EQ(a.MacText(), "00-0A-1B-2C-3D-4E");
  EXPECT_EQ(IpText(a.ip), "0.0.0.0");
  EXPECT_EQ(IpText(a.LiveAddress()), "192.168.127.254");
  EXPECT_EQ(IpText(a.netmask), "255.255.255.0");
  EXPECT_EQ(a.revision, 0x0121);
  EXPECT_EQ(a.password, "TIRVacua");
  EXPECT_EQ(a.lockMode, 0);
  EXPECT_EQ(a.faults.delayMinMs, 0);
  EXPECT_EQ(a.faults.delayMaxMs, 200);
  EXPECT_NE(a.configText.find("MOD_TYPE=K7710-GPRS-C"), std::string::npos);
  EXPECT_NE(a.configText.find("NET_CONFIG_OVERWRITE="), std::string::npos);

  const Device& b = devs[1];
  EXPECT_EQ(b.apid, 0x181u);
  EXPECT_EQ(b.revision, 0x0200);
  EXPECT_EQ(b.RevisionText(), "2.0");
  EXPECT_EQ(b.lockMode, 0xFF);
  EXPECT_EQ(b.serverName, (std::vector<uint8_t>{'A', 'B', 'C'}));
  EXPECT_EQ(b.addressMode, 4);
  EXPECT_EQ(b.configText, "X=1\r\n");
  EXPECT_EQ(b.netns, "tc-x");
  EXPECT_TRUE(b.faults.silent && b.faults.answerAlways && b.faults.malformed && b.faults.wrongApid);
  EXPECT_EQ(b.faults.delayMinMs, 5);
  EXPECT_EQ(b.faults.delayMaxMs, 7);
  EXPECT_EQ(b.raw["faults"]["restart_offline_ms"], 3000);  // left for the command side
}

TEST(FleetFile, RejectsBadInputWithTheDeviceAndFieldNamed) {
  struct Case {
    std::string fleet, needle;
  } cases[] = {
      {"{", "not valid JSON"},
      {R"({"devices":{}})", "must be an array"},
      {Fleet(R"({"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1"})"), "\"hwid\" is missing"},
      {Fleet(R"({"hwid":"0x10000","mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1"})"), ".hwid"},
      {Fleet(R"({"hwid":"0x01G5","mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1"})"), "not a number"},
      {Fleet(R"({"hwid":-1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1"})"), "negative"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D","ip":"10.0.0.1"})"), "not a MAC"},
      {Fleet(R"({"hwid":1,"mac":"01-0A-1B-2C-3D-4E","ip":"10.0.0.1"})"), "multicast"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.256"})"), "device 1 (00-0A-1B-2C-3D-4E).ip"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0"})"), "not a dotted"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","netmask":"255.0.255.0"})"), "contiguous"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","firmware":"1.16"})"), ".firmware"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","firmware":"1.2.3.4"})"), ".firmware"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","server_name":")" + std::string(61, 'x') +
             "\"}"),
       "longer than 60"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","server_name":[256]})"), "out of range"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","address_mode":5})"), ".address_mode"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","colour":"red"})"), "unknown field \"colour\""},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","netns":"a b"})"), ".netns"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","faults":{"delay_ms":[9,3]}})"), "min is greater"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1","faults":{"silent":1}})"), "true or false"},
      {Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-4E","ip":"10.0.0.1"},{"hwid":2,"mac":"00:0a:1b:2c:3d:4e","ip":"10.0.0.2"})"),
       "appears twice"},
  };
  for (const auto& c : cases) {
    const std::string err = ErrorOf(c.fleet);
    EXPECT_NE(err.find(c.needle), std::string::npos) << "fleet: " << c.fleet << "\nerror: " << err;
  }
}

Device MakeDevice() {
  return ParseFleet(Fleet(R"({"hwid":"0x0204","mac":"00-0A-1B-2C-3D-4E","ip":"192.168.1.20",
      "netmask":"255.255.255.0","gateway":"192.168.1.1","firmware":"1.2.1","lock":1,
      "server_name":"Pump-7"})"))[0];
}

std::vector<uint8_t> Request(const std::vector<std::array<uint8_t, 12>>& entries) {
  std::vector<uint8_t> r = {0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0};
  for (const auto& e : entries) r.insert(r.end(), e.begin(), e.end());
  r[2] = static_cast<uint8_t>(r.size() >> 8);
  r[3] = static_cast<uint8_t>(r.size());
  return r;
}

std::array<uint8_t, 12> IdentityOf(const Answer& a) {
  std::array<uint8_t, 12> id;
  std::memcpy(id.data(), a.data() + 8, 12);
  return id;
}

TEST(SearchAnswer, LayoutOfEveryField) {
  Device d = MakeDevice();
  Answer a = BuildAnswer(d);
  const uint8_t ident[] = {0x04, 0x02, 0x00, 0x80, 0x04, 0x02, 0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  EXPECT_EQ(0, std::memcmp(a.data() + 8, ident, 12));
  const uint8_t addrs[] = {192, 168, 1, 20, 255, 255, 255, 0, 192, 168, 1, 1, 0x21, 0x01, 0x01};
  EXPECT_EQ(0, std::memcmp(a.data() + 20, addrs, sizeof addrs));
  EXPECT_EQ(0, std::memcmp(a.data() + 56, "Pump-7\0", 7));

  // A 60-byte name fills the field with no terminating zero.
  d.serverName.assign(60, 'N');
  a = BuildAnswer(d);
  for (size_t i = 56; i < 116; ++i) ASSERT_EQ(a[i], 'N');

  d.faults.wrongApid = true;
  a = BuildAnswer(d);
  const uint8_t wrong[] = {0x04, 0x02, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(a.data() + 8, wrong, 4));

  auto m = BuildMalformed(d, 115);
  EXPECT_EQ(m.size(), 115u);
  EXPECT_NE(0, std::memcmp(m.data() + 14, d.mac.data(), 6)) << "malformed datagrams must not look like the device";
  EXPECT_EQ(BuildMalformed(d, 117).size(), 117u);
}

TEST(SearchRequest, JudgedWithoutReadingPastTheDatagram) {
  Device d = MakeDevice();
  const auto me = IdentityOf(BuildAnswer(d));
  auto other = me;
  other[11] ^= 1;

  auto first = Request({});
  EXPECT_EQ(JudgeRequest(first.data(), first.size(), d), RequestVerdict::kNotListed);
  auto two = Request({other, me});
  EXPECT_EQ(JudgeRequest(two.data(), two.size(), d), RequestVerdict::kListed);
  auto notMe = Request({other});
  EXPECT_EQ(JudgeRequest(notMe.data(), notMe.size(), d), RequestVerdict::kNotListed);

  // The wrong-APID device recognises itself by the APID it sends.
  Device w = d;
  w.faults.wrongApid = true;
  EXPECT_EQ(JudgeRequest(two.data(), two.size(), w), RequestVerdict::kNotListed);
  auto withWrong = Request({IdentityOf(BuildAnswer(w))});
  EXPECT_EQ(JudgeRequest(withWrong.data(), withWrong.size(), w), RequestVerdict::kListed);

  // Malformed: short, length field off, partial entry, wrong opcode or answer flag.
  // Copies into exact-size heap buffers so a sanitizer catches any over-read.
  auto judge = [&](std::vector<uint8_t> bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    return JudgeRequest(exact.get(), bytes.size(), d);
  };
  EXPECT_EQ(judge({}), RequestVerdict::kMalformed);
  EXPECT_EQ(judge({0x01, 0x00, 0x00, 0x08, 0, 0, 0}), RequestVerdict::kMalformed);
  auto lying = two;
  lying[3] = 0x08;  // claims 8 bytes, carries 32
  EXPECT_EQ(judge(lying), RequestVerdict::kMalformed);
  auto partial = two;
  partial.pop_back();
  partial[3] = static_cast<uint8_t>(partial.size());
  EXPECT_EQ(judge(partial), RequestVerdict::kMalformed);
  auto answerFlag = first;
  answerFlag[1] = 0x01;
  EXPECT_EQ(judge(answerFlag), RequestVerdict::kMalformed);
  auto opcode = first;
  opcode[0] = 0x02;
  EXPECT_EQ(judge(opcode), RequestVerdict::kMalformed);
}

// The loop on loopback: one thread runs the simulator, the test is the workstation.
class LoopbackSim : public ::testing::Test {
 protected:
  void Start(const std::string& fleet) {
    char tmpl[] = "/tmp/tc-devsim-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    logDir_ = tmpl;
    SimulatorOptions o;
    o.bindAddress = "127.0.0.1";
    o.udpPort = 0;
    o.tcpPort = 0;
    o.telnetPort = 0;
    o.logDir = logDir_;
    o.seed = 1;
    sim_ = std::make_unique<Simulator>(ParseFleet(fleet), o);
    sim_->Open();
    ep_ = sim_->Endpoints();
    thread_ = std::thread([this] { sim_->Run(); });
    sock_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{0, 400000};
    setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  void TearDown() override {
    if (sim_) {
      sim_->Stop();
      thread_.join();
      sim_.reset();
    }
    if (sock_ >= 0) close(sock_);
    if (!logDir_.empty()) std::system(("rm -rf " + logDir_).c_str());
  }
  void SendTo(size_t dev, const std::vector<uint8_t>& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(ep_[dev].udpPort));
    ASSERT_EQ(sendto(sock_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(bytes.size()));
  }
  // Datagrams until nothing arrives for 400 ms.
  std::vector<std::vector<uint8_t>> Receive() {
    std::vector<std::vector<uint8_t>> got;
    uint8_t buf[2048];
    ssize_t n;
    while ((n = recv(sock_, buf, sizeof buf, 0)) >= 0) got.emplace_back(buf, buf + n);
    return got;
  }
  std::string Log(size_t dev) {
    std::ifstream in(logDir_ + "/" + ep_[dev].mac + ".log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::unique_ptr<Simulator> sim_;
  std::vector<DeviceEndpoint> ep_;
  std::thread thread_;
  int sock_ = -1;
  std::string logDir_;
};

TEST_F(LoopbackSim, AnswersUnlessListedAndHonoursItsFaults) {
  Start(Fleet(R"(
    {"hwid":"0x0115","mac":"00-0A-1B-2C-3D-01","ip":"10.0.0.1","faults":{"delay_ms":[0,20]}},
    {"hwid":"0x0116","mac":"00-0A-1B-2C-3D-02","ip":"10.0.0.2","faults":{"delay_ms":0,"answer_always":true}},
    {"hwid":"0x0117","mac":"00-0A-1B-2C-3D-03","ip":"10.0.0.3","faults":{"delay_ms":0,"malformed":true}},
    {"hwid":"0x0118","mac":"00-0A-1B-2C-3D-04","ip":"10.0.0.4","faults":{"silent":true}})"));
  const std::vector<uint8_t> first = {0x01, 0x00, 0x00, 0x08, 0, 0, 0, 0};

  SendTo(0, first);
  auto got = Receive();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].size(), 116u);
  Answer expected = BuildAnswer(ParseFleet(Fleet(
      R"({"hwid":"0x0115","mac":"00-0A-1B-2C-3D-01","ip":"10.0.0.1"})"))[0]);
  EXPECT_TRUE(std::equal(got[0].begin(), got[0].end(), expected.begin()));

  // Listed: silent, unless it answers every request.
  std::array<uint8_t, 12> id1, id2;
  std::memcpy(id1.data(), got[0].data() + 8, 12);
  SendTo(0, Request({id1}));
  EXPECT_TRUE(Receive().empty());
  SendTo(1, first);
  got = Receive();
  ASSERT_EQ(got.size(), 1u);
  std::memcpy(id2.data(), got[0].data() + 8, 12);
  SendTo(1, Request({id1, id2}));
  EXPECT_EQ(Receive().size(), 1u);

  // Malformed fault: a 115- and a 117-byte datagram beside the real answer.
  SendTo(2, first);
  got = Receive();
  std::multiset<size_t> sizes;
  for (const auto& g : got) sizes.insert(g.size());
  EXPECT_EQ(sizes, (std::multiset<size_t>{115, 116, 117}));

  // Silent device and malformed requests: no answer, but every datagram is logged.
  SendTo(3, first);
  SendTo(0, {0x01, 0x00, 0x00});
  EXPECT_TRUE(Receive().empty());
  const std::string log3 = Log(3);
  EXPECT_NE(log3.find(" 00-0A-1B-2C-3D-04 udp 0100000800000000\n"), std::string::npos) << log3;
  const std::string log0 = Log(0);
  EXPECT_NE(log0.find(" udp 010000\n"), std::string::npos) << log0;
  EXPECT_EQ(std::count(log0.begin(), log0.end(), '\n'), 3);
}

// A telnet client's side of the console: reads until `want` shows up (or the
// peer closes, or a second passes without it).
class TelnetPeer {
 public:
  explicit TelnetPeer(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{0, 100000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~TelnetPeer() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string& s) { ASSERT_EQ(send(fd_, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size())); }
  std::string Until(const std::string& want) {
    std::string got;
    for (int i = 0; i < 10 && got.find(want) == std::string::npos; ++i) {
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n == 0) {
        closed_ = true;
        break;
      }
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool connected_ = false, closed_ = false;
};

const std::string kIac = "\xff";

TEST_F(LoopbackSim, TelnetConsoleNegotiatesLogsInAndServesSeveralClients) {
  Start(Fleet(R"({"hwid":"0x0115","mac":"00-0A-1B-2C-3D-01","ip":"10.0.0.1","server_name":"Pump house",
                  "password":"s3cret","faults":{"restart_offline_ms":50}})"));
  ASSERT_GT(ep_[0].telnetPort, 0);
  TelnetPeer a(ep_[0].telnetPort), b(ep_[0].telnetPort);
  ASSERT_TRUE(a.connected() && b.connected());

  std::string greet = a.Until("Password: ");
  EXPECT_NE(greet.find("Pump house\r\n"), std::string::npos) << greet;
  EXPECT_NE(greet.find("K7710"), std::string::npos) << greet;
  EXPECT_NE(greet.find("firmware 1.2.1"), std::string::npos) << greet;
  EXPECT_NE(greet.find("MAC 00-0A-1B-2C-3D-01"), std::string::npos) << greet;
  EXPECT_NE(greet.find(kIac + "\xfb\x01"), std::string::npos);  // WILL ECHO: the password is not shown
  EXPECT_NE(b.Until("Password: ").find("Pump house"), std::string::npos);

  // The client agrees to our echo and offers its window size and terminal
  // type: no answer to what is already agreed, DONT for the offers, and a
  // subnegotiation is skipped without reaching the password.
  a.Send(kIac + "\xfd\x01" + kIac + "\xfb\x1f" + kIac + "\xfa\x1f" + std::string("\x00\x50\x00\x18", 4) + kIac + "\xf0");
  std::string answer = a.Until(kIac + "\xfe\x1f");
  EXPECT_EQ(answer, kIac + "\xfe\x1f");

  // Wrong password three times closes b; a logs in (typed with a correction)
  // and gets the echo back.
  for (int i = 0; i < 2; ++i) {
    b.Send("guess\r\n");
    EXPECT_NE(b.Until("Password: ").find("Wrong password."), std::string::npos);
  }
  b.Send("guess\r\n");
  EXPECT_NE(b.Until("closing").find("Too many tries"), std::string::npos);
  b.Until("never");
  EXPECT_TRUE(b.closed());

  a.Send("s3cretX\x7f\r\n");
  std::string login = a.Until("> ");
  EXPECT_EQ(login.find("s3cret"), std::string::npos) << login;  // the password is not echoed
  EXPECT_NE(login.find("Logged in."), std::string::npos) << login;
  a.Send("show\r\n");
  std::string shown = a.Until("Lock:");
  EXPECT_EQ(shown.rfind("show\r\n", 0), 0u) << shown;  // typing is echoed once logged in
  EXPECT_NE(shown.find("IP address:   10.0.0.1"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Server name:  Pump house"), std::string::npos) << shown;
  a.Send("reboot now\r\n" + std::string(300, 'x') + "\r\nhelp\r\n");
  std::string replies = a.Until("exit ");
  EXPECT_NE(replies.find("Error: unknown command \"reboot now\""), std::string::npos) << replies;
  EXPECT_NE(replies.find("Error: line too long"), std::string::npos) << replies;
  EXPECT_NE(replies.find("restart  restart the device"), std::string::npos) << replies;

  // restart takes the device offline as its command does, which drops the connection.
  a.Send("restart\r\n");
  EXPECT_NE(a.Until("never").find("Restarting..."), std::string::npos);
  EXPECT_TRUE(a.closed());
  const std::string log = Log(0);
  EXPECT_NE(log.find("note telnet login"), std::string::npos) << log;
  EXPECT_NE(log.find("note restart, offline 50 ms"), std::string::npos) << log;
  size_t wrong = 0;
  for (size_t at = log.find("telnet wrong password"); at != std::string::npos;
       at = log.find("telnet wrong password", at + 1))
    ++wrong;
  EXPECT_EQ(wrong, 3u);
  usleep(200000);  // back online: exit closes at once
  TelnetPeer c(ep_[0].telnetPort);
  ASSERT_TRUE(c.connected());
  c.Until("Password: ");
  c.Send("s3cret\r\nexit\r\n");
  EXPECT_NE(c.Until("never").find("Bye."), std::string::npos);
  EXPECT_TRUE(c.closed());
}

TEST(SimulatorOpen, PortInUseNamesTheDevice) {
  SimulatorOptions o;
  o.bindAddress = "127.0.0.1";
  o.udpPort = 0;
  o.tcpPort = 0;
  o.telnetPort = 0;
  Simulator first(ParseFleet(Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-01","ip":"10.0.0.1"})")), o);
  first.Open();
  o.tcpPort = first.Endpoints()[0].tcpPort;  // already listening
  Simulator second(ParseFleet(Fleet(R"({"hwid":1,"mac":"00-0A-1B-2C-3D-02","ip":"10.0.0.1"})")), o);
  try {
    second.Open();
    ADD_FAILURE() << "a second listener on the same port was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("00-0A-1B-2C-3D-02"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("TCP port"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace orv::devsim
