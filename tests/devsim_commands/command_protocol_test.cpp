// Device-side command protocol: frames in, replies and device effects out.
#include <gtest/gtest.h>

#include <string>

#include "command_protocol.h"
#include "fake_device.h"

namespace orv::devsim {
namespace {

using test::FakeControl;
using test::LoginBlock;
using test::MakeDevice;
using test::Req;

class EngineTest : public ::testing::Test {
 protected:
  Device dev = MakeDevice();
  FakeControl ctl;
  CommandFaults faults;
  std::unique_ptr<CommandEngine> eng = std::make_unique<CommandEngine>(dev, ctl, faults);
  uint16_t tid = 0;

  Outcome Do(const std::vector<uint8_t>& f) { return eng->Handle(f.data(), f.size()); }
  Outcome Do(uint8_t fc, uint16_t addr, uint16_t count, const std::vector<uint8_t>& data = {}) {
    return Do(Req(tid++, fc, addr, count, data));
  }
  Outcome Login(const std::string& pw = "TIRVacua", uint32_t tick = 0x1234) {
    return Do(kFcWriteRegisters, kRegPassword, 5, LoginBlock(pw, tick));
  }
  static bool IsException(const Outcome& o) { return o.reply.size() == 9 && (o.reply[7] & 0x80); }
  void NewConnection() { eng = std::make_unique<CommandEngine>(dev, ctl, faults); }

  // One firmware transfer as the client runs it; returns the closing outcome
  // or the first refusal.
  Outcome Upload(const std::vector<uint8_t>& image, uint16_t crc) {
    Do(kFcWriteRegister, kRegFwOpen, 0);
    std::vector<uint8_t> c = {'T', 'I', 'R', 'H', 'o', 'H', 'o', 0, 0, 0, 0, 0, 0, 0};
    Outcome o = Do(kFcWriteRegisters, kRegFwConstant, 7, c);
    if (IsException(o)) return o;
    uint32_t n = static_cast<uint32_t>(image.size());
    o = Do(kFcWriteRegisters, kRegFwLength, 2,
           {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    if (IsException(o)) return o;
    o = Do(kFcWriteRegisters, kRegFwFixed, 1, {0x00, 0x0F});
    if (IsException(o)) return o;
    for (size_t off = 0; off < image.size(); off += 230) {
      size_t k = std::min<size_t>(230, image.size() - off);
      std::vector<uint8_t> blk(image.begin() + off, image.begin() + off + k);
      if (k % 2) blk.push_back(0xEE);
      o = Do(kFcWriteRegisters, kRegFwBlock, static_cast<uint16_t>(blk.size() / 2), blk);
      if (o.wire != Outcome::Wire::Send || IsException(o)) return o;
    }
    o = Do(kFcWriteRegister, kRegFwCrc, crc);
    if (IsException(o)) return o;
    return Do(kFcWriteRegister, kRegFwClose, 0);
  }

  // Export as the client runs it: length, blocks, closing write.
  std::string Export(int* blocks = nullptr, int* lastRegs = nullptr) {
    Outcome o = Do(kFcReadHolding, kRegCfgOutLength, 1);
    EXPECT_EQ(o.reply.size(), 11u);
    size_t total = o.reply[9] | o.reply[10] << 8;
    std::string text;
    int b = 0;
    for (size_t rem = total; rem > 0;) {
      size_t n = std::min<size_t>(rem, 230);
      uint16_t regs = static_cast<uint16_t>((n + 1) / 2);
      o = Do(kFcReadHolding, kRegCfgOutBlock, regs);
      EXPECT_EQ(o.reply.size(), 9u + 2 * regs);
      text.append(reinterpret_cast<const char*>(o.reply.data() + 9), n);
      rem -= n;
      ++b;
      if (lastRegs) *lastRegs = regs;
    }
    EXPECT_FALSE(IsException(Do(kFcWriteRegister, kRegCfgOutClose, 0)));
    if (blocks) *blocks = b;
    return text;
  }

  Outcome Import(const std::string& text) {
    uint32_t n = static_cast<uint32_t>(text.size());
    Outcome o = Do(kFcWriteRegister, kRegCfgInLength, static_cast<uint16_t>((n & 0xFF) << 8 | ((n >> 8) & 0xFF)));
    if (IsException(o)) return o;
    for (size_t off = 0; off < text.size(); off += 230) {
      size_t k = std::min<size_t>(230, text.size() - off);
      std::vector<uint8_t> blk(text.begin() + off, text.begin() + off + k);
      if (k % 2) blk.push_back(0);
      o = Do(kFcWriteRegisters, kRegCfgInBlock, static_cast<uint16_t>(blk.size() / 2), blk);
      if (IsException(o)) return o;
    }
    return Do(kFcWriteRegister, kRegCfgInClose, 0);
  }
};

TEST(FrameAssembler, CollectsFramesFromAnySplitAndRejectsBadHeaders) {
  auto a = Req(7, kFcReadHolding, 0x8138, 1);
  auto b = Req(8, kFcWriteRegisters, 0x8133, 5, std::vector<uint8_t>(10, 0x41));
  std::vector<uint8_t> stream = a;
  stream.insert(stream.end(), b.begin(), b.end());

  FrameAssembler fa;
  std::vector<std::vector<uint8_t>> got;
  for (uint8_t byte : stream) {  // one byte at a time
    EXPECT_EQ(fa.Feed(&byte, 1), 1u);
    if (fa.HasFrame()) {
      got.emplace_back(fa.Frame(), fa.Frame() + fa.FrameSize());
      fa.Pop();
    }
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], a);
  EXPECT_EQ(got[1], b);

  // Both frames in one chunk: Feed stops after the first.
  FrameAssembler fb;
  size_t used = fb.Feed(stream.data(), stream.size());
  EXPECT_EQ(used, a.size());
  ASSERT_TRUE(fb.HasFrame());
  fb.Pop();
  EXPECT_EQ(fb.Feed(stream.data() + used, stream.size() - used), b.size());
  EXPECT_TRUE(fb.HasFrame());

  // The longest request (125 registers, 263 bytes) fits; one more byte does not.
  FrameAssembler fc;
  auto big = Req(1, kFcWriteRegisters, 0, 125, std::vector<uint8_t>(250, 1));
  ASSERT_EQ(big.size(), 263u);
  fc.Feed(big.data(), big.size());
  EXPECT_TRUE(fc.HasFrame());
  std::vector<uint8_t> tooLong = {0, 1, 0, 0, 0x01, 0x02, 1};  // length 258
  FrameAssembler fd;
  fd.Feed(tooLong.data(), tooLong.size());
  EXPECT_TRUE(fd.Bad());
  std::vector<uint8_t> proto = {0, 1, 0, 1, 0, 6, 1};
  FrameAssembler fe;
  fe.Feed(proto.data(), proto.size());
  EXPECT_TRUE(fe.Bad());
  std::vector<uint8_t> shortLen = {0, 1, 0, 0, 0, 1, 1};
  FrameAssembler ff;
  ff.Feed(shortLen.data(), shortLen.size());
  EXPECT_TRUE(ff.Bad());
}

TEST(DeviceCrc, CheckValueAndLoginDecodingAtManyTicks) {
  const char* s = "123456789";
  EXPECT_EQ(DeviceCrc16(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
  EXPECT_EQ(DeviceCrc16(nullptr, 0), 0xFFFF);
  for (uint32_t tick = 0; tick < 5000; tick += 7) {
    for (std::string pw : {"TIRVacua", "a", "secret12", "x\x7f\x01"}) {
      auto b = LoginBlock(pw, tick);
      EXPECT_EQ(DecodeLoginBlock(b.data()), pw) << "tick " << tick;
    }
  }
  // Worked example: tick low byte 0x95 raises by 5, positions past the end become 0x05.
  auto b = LoginBlock("ab", 0x95);
  EXPECT_EQ(b[8], 0x95);
  EXPECT_EQ(b[2], 0x05);
  EXPECT_EQ(DecodeLoginBlock(b.data()), "ab");
}

TEST_F(EngineTest, ReplyLengthsAndHeadersForEveryFunctionCode) {
  ASSERT_EQ(Login().reply.size(), 12u);
  struct Case { uint8_t fc; uint16_t addr, count; size_t len; std::vector<uint8_t> data; };
  const Case cases[] = {
      {kFcReadCoils, 0, 2000, 259, {}},     {kFcReadCoils, 0, 9, 11, {}},
      {kFcReadInputs, 0, 1, 10, {}},        {kFcReadHolding, 0x10, 125, 259, {}},
      {kFcReadInputRegs, 0x10, 3, 15, {}},  {kFcWriteCoil, 4, 0xFF00, 12, {}},
      {kFcWriteRegister, 0x20, 0x1234, 12, {}},
      {kFcWriteCoils, 0, 800, 12, std::vector<uint8_t>(100, 0)},
      {kFcWriteRegisters, 0x30, 125, 12, std::vector<uint8_t>(250, 0)},
  };
  for (const auto& c : cases) {
    auto req = Req(0xBEEF, c.fc, c.addr, c.count, c.data);
    Outcome o = Do(req);
    ASSERT_EQ(o.reply.size(), c.len) << int(c.fc);
    EXPECT_EQ(o.reply[0], 0xBE);
    EXPECT_EQ(o.reply[1], 0xEF);
    EXPECT_EQ((o.reply[4] << 8 | o.reply[5]), int(c.len - 6)) << "length field";
    EXPECT_EQ(o.reply[6], 1);
    EXPECT_EQ(o.reply[7], c.fc);
    if (c.len == 12) { EXPECT_TRUE(std::equal(req.begin() + 8, req.begin() + 12, o.reply.begin() + 8)); }
  }
  // Registers written are read back.
  Do(kFcWriteRegisters, 0x40, 2, {0x12, 0x34, 0x56, 0x78});
  Outcome r = Do(kFcReadHolding, 0x40, 2);
  EXPECT_EQ(std::vector<uint8_t>(r.reply.begin() + 9, r.reply.end()), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));

  // Refusals: exception replies of 9 bytes with the top bit set.
  EXPECT_EQ(Do(Req(1, 107, 0, 1)).reply, (std::vector<uint8_t>{0, 1, 0, 0, 0, 3, 1, 0xEB, kExIllegalFunction}));
  EXPECT_TRUE(IsException(Do(kFcReadHolding, 0, 126)));
  EXPECT_TRUE(IsException(Do(kFcReadHolding, 0, 0)));
  EXPECT_TRUE(IsException(Do(kFcReadCoils, 0, 2001)));
  EXPECT_TRUE(IsException(Do(kFcWriteCoil, 0, 0x1234)));
  auto badCount = Req(1, kFcWriteRegisters, 0, 2, {1, 2, 3});  // byte count 3 for 2 registers
  EXPECT_TRUE(IsException(Do(badCount)));
  EXPECT_EQ(Do(kFcWriteRegisters, 0, 1, {1, 2}).reply[7], kFcWriteRegisters);
  auto shortFrame = Req(1, kFcReadHolding, 0, 1);
  shortFrame.pop_back();
  shortFrame[5] = 5;
  EXPECT_TRUE(IsException(eng->Handle(shortFrame.data(), shortFrame.size())));
}

TEST_F(EngineTest, LoginGatesEveryCommandPerConnection) {
  EXPECT_TRUE(IsException(Do(kFcReadHolding, kRegAddressMode, 1)));  // nothing before the login
  Outcome bad = Login("TIRVacuX");
  EXPECT_TRUE(IsException(bad));
  EXPECT_EQ(bad.reply[7], 0xF4);
  EXPECT_TRUE(IsException(Do(kFcReadHolding, kRegAddressMode, 1)));
  EXPECT_FALSE(IsException(Login("TIRVacua", 0x38)));
  EXPECT_FALSE(IsException(Do(kFcReadHolding, kRegAddressMode, 1)));

  NewConnection();  // a new connection logs in again
  EXPECT_TRUE(IsException(Do(kFcReadHolding, kRegAddressMode, 1)));

  dev.password = "LongerThanEight";  // only eight characters travel
  EXPECT_FALSE(IsException(Login("LongerTh")));
  dev.password = "pw";
  EXPECT_TRUE(IsException(Login("TIRVacua")));
  EXPECT_FALSE(IsException(Login("pw", 0x97)));
}

TEST_F(EngineTest, DiagnosticsRestartResetAndLocate) {
  Login();
  Outcome r = Do(Req(5, kFcDiagnostics, 1, 0xFF00));
  EXPECT_EQ(r.reply, Req(5, kFcDiagnostics, 1, 0xFF00));  // echoed
  EXPECT_EQ(r.after, Outcome::After::Restart);
  EXPECT_EQ(Do(kFcDiagnostics, 1, 0x55AA).after, Outcome::After::FactoryReset);
  EXPECT_TRUE(IsException(Do(kFcDiagnostics, 1, 0x1234)));
  EXPECT_TRUE(IsException(Do(kFcDiagnostics, 0, 0xFF00)));
  EXPECT_EQ(ctl.restarts, 0);  // carried out by the session after the reply

  EXPECT_FALSE(IsException(Do(kFcWriteRegister, kRegLocate, 0x0100)));
  EXPECT_EQ(dev.locateValue, 0x0100);
}

TEST_F(EngineTest, AddressModeAndIpChange) {
  Login();
  for (uint8_t mode : {0, 1, 4}) {
    dev.addressMode = mode;
    Outcome r = Do(kFcReadHolding, kRegAddressMode, 1);
    ASSERT_EQ(r.reply.size(), 11u);
    EXPECT_EQ(r.reply[9], 0);
    EXPECT_EQ(r.reply[10], mode);
  }
  dev.addressMode = 2;
  EXPECT_TRUE(IsException(Do(kFcWriteRegisters, kRegIpAddress, 2, {10, 77, 0, 99})));
  EXPECT_EQ(ctl.pendingCalls, 0);
  dev.addressMode = 0;
  EXPECT_FALSE(IsException(Do(kFcWriteRegisters, kRegIpAddress, 2, {10, 77, 0, 99})));
  EXPECT_EQ(ctl.pendingCalls, 1);
  EXPECT_EQ(ctl.pendingIp, (Ip4{10, 77, 0, 99}));
  EXPECT_EQ(ctl.pendingMask, dev.netmask);
  EXPECT_EQ(dev.ip, (Ip4{10, 77, 0, 11}));  // takes effect only at the restart
}

std::vector<uint8_t> FirmwareImage(size_t payload, uint8_t major, uint8_t minorPatch) {
  std::vector<uint8_t> img(32 + payload);
  std::memcpy(img.data(), "DAC!", 4);
  img[4] = minorPatch;
  img[5] = major;
  img[12] = 15;
  for (size_t i = 0; i < payload; ++i) img[32 + i] = static_cast<uint8_t>(i * 7);
  return img;
}

TEST_F(EngineTest, FirmwareInstallsOnlyAValidTransfer) {
  Login();
  for (size_t total : {460u, 231u, 32u}) {
    auto img = FirmwareImage(total - 32, 2, 0x31);
    dev.revision = 0x0121;
    Outcome o = Upload(img, DeviceCrc16(img.data(), img.size()));
    EXPECT_FALSE(IsException(o)) << total;
    EXPECT_EQ(dev.revision, 0x0231) << total;
    EXPECT_EQ(dev.RevisionText(), "2.3.1");
  }
  // Wrong checksum, wrong constant, a too long image: refused, revision kept.
  auto img = FirmwareImage(300, 3, 0x00);
  dev.revision = 0x0121;
  EXPECT_TRUE(IsException(Upload(img, DeviceCrc16(img.data(), img.size()) ^ 1)));
  EXPECT_EQ(dev.revision, 0x0121);
  EXPECT_TRUE(IsException(Do(kFcWriteRegisters, kRegFwConstant, 7, std::vector<uint8_t>(14, 'X'))));
  EXPECT_TRUE(IsException(Do(kFcWriteRegister, kRegFwClose, 0)));  // closing without a transfer
  Do(kFcWriteRegister, kRegFwOpen, 0);
  Do(kFcWriteRegisters, kRegFwConstant, 7, {'T', 'I', 'R', 'H', 'o', 'H', 'o', 0, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(IsException(Do(kFcWriteRegisters, kRegFwLength, 2, {0xFF, 0xFF, 0xFF, 0x7F})));  // 2 GiB
  // Blocks before the length and fixed value are refused; so are bytes beyond the length.
  EXPECT_TRUE(IsException(Do(kFcWriteRegisters, kRegFwBlock, 1, {1, 2})));
  Do(kFcWriteRegisters, kRegFwLength, 2, {4, 0, 0, 0});
  Do(kFcWriteRegisters, kRegFwFixed, 1, {0x00, 0x0F});
  EXPECT_FALSE(IsException(Do(kFcWriteRegisters, kRegFwBlock, 2, {1, 2, 3, 4})));
  EXPECT_TRUE(IsException(Do(kFcWriteRegisters, kRegFwBlock, 1, {5, 6})));
  // An image without the header still installs when its checksum holds; the revision stays.
  std::vector<uint8_t> raw(100, 0x5A);
  EXPECT_FALSE(IsException(Upload(raw, DeviceCrc16(raw.data(), raw.size()))));
  EXPECT_EQ(dev.revision, 0x0121);
  // Fewer bytes than announced.
  Do(kFcWriteRegister, kRegFwOpen, 0);
  Do(kFcWriteRegisters, kRegFwConstant, 7, {'T', 'I', 'R', 'H', 'o', 'H', 'o', 0, 0, 0, 0, 0, 0, 0});
  Do(kFcWriteRegisters, kRegFwLength, 2, {10, 0, 0, 0});
  Do(kFcWriteRegisters, kRegFwFixed, 1, {0x00, 0x0F});
  Do(kFcWriteRegisters, kRegFwBlock, 2, {1, 2, 3, 4});
  Do(kFcWriteRegister, kRegFwCrc, 0);
  EXPECT_TRUE(IsException(Do(kFcWriteRegister, kRegFwClose, 0)));
}

TEST_F(EngineTest, ExportSizesBlocksAndContent) {
  Login();
  std::string text = Export();
  EXPECT_NE(text.find("MOD_TYPE=K7710-GPRS-C\r\n"), std::string::npos);
  EXPECT_NE(text.find("NET_CONFIG_OVERWRITE=1"), std::string::npos);
  EXPECT_NE(text.find("IP_ADDRESS=10.77.0.11\r\n"), std::string::npos);
  EXPECT_NE(text.find("SERVER_NAME=rtu-north\r\n"), std::string::npos);
  EXPECT_EQ(text, RenderConfig(dev));

  faults.exportSize = 10000;
  NewConnection();
  Login();
  int blocks = 0, lastRegs = 0;
  Outcome len = Do(kFcReadHolding, kRegCfgOutLength, 1);
  EXPECT_EQ(len.reply[9], 0x10);
  EXPECT_EQ(len.reply[10], 0x27);
  text = Export(&blocks, &lastRegs);
  EXPECT_EQ(text.size(), 10000u);
  EXPECT_EQ(blocks, 44);
  EXPECT_EQ(lastRegs, 55);
  std::string real = RenderConfig(dev);
  EXPECT_EQ(text.substr(0, real.size()), real);  // padding comes after the real lines
  EXPECT_EQ(text[real.size()], '#');

  faults.exportSize = 231;
  NewConnection();
  Login();
  text = Export(&blocks, &lastRegs);
  EXPECT_EQ(text.size(), 231u);
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(lastRegs, 1);

  // A block read without the length read first is refused.
  NewConnection();
  Login();
  EXPECT_TRUE(IsException(Do(kFcReadHolding, kRegCfgOutBlock, 1)));
}

TEST_F(EngineTest, ImportRulesAndTheSixteenBitLength) {
  Login();
  std::string good =
      "MOD_TYPE=K7710-GPRS-C\r\nNET_CONFIG_OVERWRITE=0\r\nIP_ADDRESS=10.77.0.50\r\nCOM1_BAUD=19200\r\n";
  EXPECT_FALSE(IsException(Import(good)));
  EXPECT_EQ(dev.configText, good);
  EXPECT_EQ(ctl.pendingCalls, 0);  // "0": network left alone
  std::string exported = Export();
  EXPECT_NE(exported.find("COM1_BAUD=19200"), std::string::npos);
  EXPECT_NE(exported.find("IP_ADDRESS=10.77.0.11"), std::string::npos);

  std::string net = "MOD_TYPE=K7710-HSDPA\r\nNET_CONFIG_OVERWRITE=1\r\nIP_ADDRESS=10.77.0.50\r\nGATEWAY=10.77.0.254\r\n";
  EXPECT_FALSE(IsException(Import(net)));
  EXPECT_EQ(ctl.pendingCalls, 1);
  EXPECT_EQ(ctl.pendingIp, (Ip4{10, 77, 0, 50}));
  EXPECT_EQ(ctl.pendingGw, (Ip4{10, 77, 0, 254}));
  EXPECT_EQ(ctl.pendingMask, dev.netmask);

  std::string other = "MOD_TYPE=Tramix 4410-5-RJ45-C\r\nNET_CONFIG_OVERWRITE=1\r\n";
  EXPECT_TRUE(IsException(Import(other)));
  EXPECT_EQ(dev.configText, net);
  EXPECT_TRUE(IsException(Import("MOD_TYPE=K77")));  // tag too short to compare
  EXPECT_TRUE(IsException(Import("NET_CONFIG_OVERWRITE=1\r\nIP_ADDRESS=10.77.0.300\r\n")));

  // 70000 bytes: the length register says 4464, 305 blocks follow, the device keeps all.
  std::string big = "MOD_TYPE=K7710\r\nNET_CONFIG_OVERWRITE=0\r\n";
  while (big.size() < 70000) big += "X";
  ASSERT_EQ(big.size(), 70000u);
  EXPECT_FALSE(IsException(Import(big)));
  EXPECT_EQ(dev.configText.size(), 70000u);
  // Fewer bytes than announced are refused.
  Do(kFcWriteRegister, kRegCfgInLength, 0x1000);  // 16 bytes, LSB first
  Do(kFcWriteRegisters, kRegCfgInBlock, 2, {'a', 'b', 'c', 'd'});
  EXPECT_TRUE(IsException(Do(kFcWriteRegister, kRegCfgInClose, 0)));
}

TEST_F(EngineTest, RequestFaults) {
  faults.exceptionOn = {*RequestRule::Parse("116:8210#3")};
  faults.noAnswerOn = {*RequestRule::Parse("106:8200")};
  faults.closeMidReplyOn = {*RequestRule::Parse("108")};
  NewConnection();
  Login();
  auto img = FirmwareImage(900, 1, 0);
  EXPECT_EQ(Do(kFcWriteRegister, kRegFwOpen, 0).wire, Outcome::Wire::Silent);
  Outcome o = Upload(img, DeviceCrc16(img.data(), img.size()));
  EXPECT_TRUE(IsException(o));
  // Transactions: login 0, opening writes 1 and 2, constant 3, length 4, fixed 5, blocks 6, 7, 8.
  EXPECT_EQ(o.reply[1], 8);  // the third block is the one refused
  Outcome mid = Do(kFcDiagnostics, 1, 0xFF00);
  EXPECT_EQ(mid.wire, Outcome::Wire::CloseMidReply);
  EXPECT_EQ(mid.after, Outcome::After::None);
  EXPECT_EQ(mid.reply.size(), 12u);

  faults = {};
  faults.dropAfterFwBlocks = 2;
  NewConnection();
  Login();
  o = Upload(img, 0);
  EXPECT_EQ(o.wire, Outcome::Wire::Close);

  faults = {};
  faults.noAnswer = true;
  NewConnection();
  EXPECT_EQ(Login().wire, Outcome::Wire::Silent);
}

TEST(CommandFaultsJson, ParsesKeysAndRejectsBadOnes) {
  auto j = nlohmann::json::parse(R"({"faults": {"exception_on": ["108", "116:8210#3", 103],
      "drop_after_fw_blocks": 2, "split_replies": true, "reply_delay_ms": 300, "restart_offline_ms": 1500}})");
  CommandFaults f = CommandFaults::FromJson(j);
  ASSERT_EQ(f.exceptionOn.size(), 3u);
  EXPECT_EQ(f.exceptionOn[0].function, 108);
  EXPECT_EQ(f.exceptionOn[0].address, -1);
  EXPECT_EQ(f.exceptionOn[1].address, 0x8210);
  EXPECT_EQ(f.exceptionOn[1].occurrence, 3);
  EXPECT_EQ(f.exceptionOn[2].function, 103);
  EXPECT_EQ(f.dropAfterFwBlocks, 2);
  EXPECT_TRUE(f.splitReplies);
  EXPECT_EQ(f.replyDelayMs, 300);
  EXPECT_EQ(f.restartOfflineMs, 1500);
  EXPECT_EQ(CommandFaults::FromJson(nlohmann::json::object()).restartOfflineMs, 3000);

  for (const char* bad : {R"({"faults": {"bogus": 1}})", R"({"faults": {"exception_on": ["x"]}})",
                          R"({"faults": {"exception_on": ["116:GG"]}})",
                          R"({"faults": {"exception_on": ["116:8210#0"]}})",
                          R"({"faults": {"reply_delay_ms": -1}})",
                          R"({"faults": {"export_size": 70000}})", R"({"faults": []})"}) {
    EXPECT_THROW(CommandFaults::FromJson(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
  }
}

TEST(ModelTag, FamiliesAndWideTemperatureVariants) {
  EXPECT_EQ(ModelTagForHwid(0x0115), "K7710-GPRS-C");
  EXPECT_EQ(ModelTagForHwid(0x011C), "K7710-HSDPA-IEC-T");
  EXPECT_EQ(ModelTagForHwid(0x0201), "Tramix 4410-5-RJ45-C");
  EXPECT_EQ(ModelTagForHwid(0x0188), "Tramix 4410-9-M12-IEC-T");
  EXPECT_EQ(ModelTagForHwid(0x0300), "");
}

}  // namespace
}  // namespace orv::devsim
