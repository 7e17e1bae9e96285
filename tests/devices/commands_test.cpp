// The device command set against a scripted device on loopback: the requests
// each command puts on the wire, byte for byte, and every result code.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "batch/crc16.h"
#include "comm/transaction.h"
#include "devices/fake_device.h"
#include "devices/mod_nx9000.h"
#include "devices/wait_dialog.h"
#include "host/settings.h"

namespace orv {
namespace {

using test::Bytes;
using test::FakeDevice;
using test::PeerAction;
using test::ScriptedPeer;

class RecordingWait : public TRestartWait {
 public:
  void ShowModal() override { ++shown; }
  int shown = 0;
};

class RecordingProgress : public TProgressBar {
 public:
  int32_t Position() const override { return pos; }
  void SetPosition(int32_t p) override { pos = p; }
  int32_t pos = 0;
};

uint32_t FixedTick() { return 0x1234ABCD; }

class CommandTest : public ::testing::Test {
 protected:
  CommandTest()
      : peer_([this](const Bytes& f, int, int) { return dev_.Handle(f); }), mod_(20) {}

  void SetUp() override {
    savedTimeout_ = nSocketTimeout;
    nSocketTimeout = 1000;
    DeviceIoHalted = false;
    SetRestartWait(&wait_);
    mod_.Init(nullptr, nullptr, nullptr);
    mod_.AddIO(&list_, nullptr, "127.0.0.1", "00-0A-1B-2C-3D-4E", "255.255.255.0", "0.0.0.0",
               "Unlock", "1.2.3", "rtu");
    mod_.pSockets[0]->SetPort(peer_.port());
    mod_.pTickSource = &FixedTick;
  }
  void TearDown() override {
    SetRestartWait(nullptr);
    mod_.Quit();
    nSocketTimeout = savedTimeout_;
  }

  // Frames received, in order, as (function code, wire address).
  std::vector<std::pair<int, int>> Requests() {
    std::vector<std::pair<int, int>> r;
    for (auto& f : peer_.frames()) r.emplace_back(f.bytes[7], f.bytes[8] << 8 | f.bytes[9]);
    return r;
  }
  std::vector<Bytes> Frames() {
    std::vector<Bytes> r;
    for (auto& f : peer_.frames()) r.push_back(f.bytes);
    return r;
  }
  // Data part of write-multiple frames to one address (header stripped).
  std::vector<Bytes> Blocks(uint16_t addr) {
    std::vector<Bytes> r;
    for (auto& f : Frames()) {
      if (f[7] == 116 && (f[8] << 8 | f[9]) == addr) r.emplace_back(f.begin() + 13, f.end());
    }
    return r;
  }
  void WaitClosed(int n = 1) {
    for (int i = 0; i < 200 && peer_.closedByClient() < n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  FakeDevice dev_;
  ScriptedPeer peer_;
  TModNx9000 mod_;
  TIOObjList list_;
  RecordingWait wait_;
  int32_t savedTimeout_ = 0;
};

using Req = std::pair<int, int>;
const Req kLogin{116, 0x8133};
const Req kDiag{108, 0x0001};

TEST_F(CommandTest, RestartLogsInRestartsWaitsAndCloses) {
  EXPECT_EQ(mod_.muRestart(""), 0);
  EXPECT_EQ(Requests(), (std::vector<Req>{kLogin, kDiag}));
  auto frames = Frames();
  EXPECT_EQ(frames[1][10], 0xFF);
  EXPECT_EQ(frames[1][11], 0x00);
  EXPECT_EQ(dev_.logins, (std::vector<std::string>{"TIRVacua"}));
  EXPECT_EQ(wait_.shown, 1);
  EXPECT_FALSE(mod_.pSockets[0]->Connected());
  WaitClosed();
  EXPECT_EQ(peer_.closedByClient(), 1);
}

TEST_F(CommandTest, ResetSendsTheResetValue) {
  EXPECT_EQ(mod_.muReset(nullptr), 0);
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1][10], 0x55);
  EXPECT_EQ(frames[1][11], 0xAA);
  EXPECT_EQ(wait_.shown, 1);
}

TEST_F(CommandTest, RefusedDiagnosticsIsRetriedOnceThenFails) {
  dev_.refuse.insert({108, 0x0001});
  EXPECT_EQ(mod_.muRestart(""), 2);
  EXPECT_EQ(wait_.shown, 0);
  // The diagnostic request alone is repeated on a new connection, without a
  // second login, with the same transaction identifier.
  auto frames = peer_.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2].connection, 1);
  EXPECT_EQ(frames[1].bytes, frames[2].bytes);
  EXPECT_EQ(mod_.muReset(""), 3);
}

TEST_F(CommandTest, WrongPasswordStopsEveryCommandAfterTheLogin) {
  dev_.password = "other";
  const uint8_t two[2] = {1, 0};
  const uint8_t ip[4] = {10, 0, 0, 9};
  const uint8_t image[10] = {};
  EXPECT_EQ(mod_.muRestart("nope"), 4);
  EXPECT_EQ(mod_.muReset(""), 4);
  EXPECT_EQ(mod_.muLocateDev(two, ""), 4);
  EXPECT_EQ(mod_.muUnlockDev(true, "nope"), 4);
  EXPECT_EQ(mod_.muChangeIP(ip, ""), 4);
  EXPECT_EQ(mod_.muUgdFW(nullptr, 0, 10, image, ""), 4);
  EXPECT_EQ(mod_.muImportDev(10, image, ""), 4);
  EXPECT_EQ(mod_.muExportDev(nullptr, ""), 4);
  for (auto& r : Requests()) EXPECT_EQ(r, kLogin);
  EXPECT_EQ(Requests().size(), 8u);
  EXPECT_EQ(wait_.shown, 0);
}

TEST_F(CommandTest, UnlockChoosesThePassword) {
  dev_.password = "given";
  EXPECT_EQ(mod_.muUnlockDev(true, "given"), 0);
  EXPECT_EQ(mod_.muUnlockDev(false, "given"), 4);  // default sent instead
  EXPECT_EQ(dev_.logins, (std::vector<std::string>{"given", "TIRVacua"}));
  EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(CommandTest, LongPasswordIsCutToEight) {
  dev_.password = "abcdefgh";
  EXPECT_EQ(mod_.muUnlockDev(true, "abcdefghijk"), 0);
  // The block that went out is the encoding at the injected tick.
  uint8_t expected[10];
  EncodePasswordBlock("abcdefgh", FixedTick(), expected);
  EXPECT_EQ(Blocks(0x8133).at(0), Bytes(expected, expected + 10));
}

TEST_F(CommandTest, LocateWritesBothBytesAsOneValue) {
  const uint8_t value[2] = {0x01, 0x00};
  EXPECT_EQ(mod_.muLocateDev(value, ""), 0);
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(Bytes(frames[1].begin() + 7, frames[1].end()),
            (Bytes{0x6A, 0x80, 0xF5, 0x01, 0x00}));
  dev_.refuse.insert({106, 0x80F5});
  EXPECT_EQ(mod_.muLocateDev(value, ""), 7);
}

TEST_F(CommandTest, ChangeIPWritesTheAddressAndRestarts) {
  const uint8_t ip[4] = {192, 168, 7, 21};
  EXPECT_EQ(mod_.muChangeIP(ip, ""), 0);
  EXPECT_EQ(Requests(), (std::vector<Req>{kLogin, {103, 0x8138}, {116, 0x8000}, kLogin, kDiag}));
  EXPECT_EQ(Blocks(0x8000).at(0), (Bytes{192, 168, 7, 21}));
  EXPECT_EQ(wait_.shown, 1);
}

TEST_F(CommandTest, ChangeIPSucceedsEvenWhenTheRestartFails) {
  dev_.refuse.insert({108, 0x0001});
  const uint8_t ip[4] = {10, 1, 2, 3};
  EXPECT_EQ(mod_.muChangeIP(ip, ""), 0);
  EXPECT_EQ(wait_.shown, 0);
}

TEST_F(CommandTest, ChangeIPRefusedOutsideFixedAddressMode) {
  const uint8_t ip[4] = {10, 1, 2, 3};
  for (uint8_t mode = 1; mode <= 4; ++mode) {
    dev_.addressMode = mode;
    EXPECT_EQ(mod_.muChangeIP(ip, ""), 50 + mode);
  }
  EXPECT_TRUE(Blocks(0x8000).empty());
  dev_.addressMode = 0;
  dev_.refuse.insert({103, 0x8138});
  EXPECT_EQ(mod_.muChangeIP(ip, ""), 5);
  dev_.refuse.clear();
  dev_.refuse.insert({116, 0x8000});
  EXPECT_EQ(mod_.muChangeIP(ip, ""), 5);
  EXPECT_EQ(wait_.shown, 0);
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
  return b;
}

TEST_F(CommandTest, FirmwareTransferSequence) {
  Bytes image = Pattern(460);
  RecordingProgress progress;
  const uint16_t crc = CRC16ModbusValue(image.data(), 460);
  EXPECT_EQ(mod_.muUgdFW(&progress, crc, 460, image.data(), ""), 0);
  EXPECT_EQ(Requests(),
            (std::vector<Req>{kLogin, {106, 0x8200}, {116, 0x8201}, {116, 0x820D}, {116, 0x820F},
                              {116, 0x8210}, {116, 0x8210}, {106, 0x8283}, {106, 0x8284},
                              kLogin, kDiag}));
  auto frames = Frames();
  // Constant: seven registers starting with "TIRHoHo".
  EXPECT_EQ(frames[2][11], 7);
  EXPECT_EQ(Bytes(frames[2].begin() + 13, frames[2].begin() + 20),
            (Bytes{'T', 'I', 'R', 'H', 'o', 'H', 'o'}));
  EXPECT_EQ(Blocks(0x820D).at(0), (Bytes{0xCC, 0x01, 0, 0}));
  EXPECT_EQ(Blocks(0x820F).at(0), (Bytes{0x00, 0x0F}));
  auto blocks = Blocks(0x8210);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], Bytes(image.begin(), image.begin() + 230));
  EXPECT_EQ(blocks[1], Bytes(image.begin() + 230, image.end()));
  EXPECT_EQ(frames[7][10], crc >> 8);
  EXPECT_EQ(frames[7][11], crc & 0xFF);
  EXPECT_EQ(progress.pos, 2);
  EXPECT_EQ(wait_.shown, 1);
}

TEST_F(CommandTest, FirmwareLastBlockRoundsUpToWholeRegisters) {
  Bytes image = Pattern(231);
  EXPECT_EQ(mod_.muUgdFW(nullptr, 0, 231, image.data(), ""), 0);
  auto frames = Frames();
  std::vector<int> counts;
  for (auto& f : frames) {
    if (f[7] == 116 && (f[8] << 8 | f[9]) == 0x8210) counts.push_back(f[11]);
  }
  EXPECT_EQ(counts, (std::vector<int>{115, 1}));
  auto blocks = Blocks(0x8210);
  EXPECT_EQ(blocks[1].size(), 2u);
  EXPECT_EQ(blocks[1][0], image[230]);
}

TEST_F(CommandTest, FirmwareLengthAndChecksumBytes) {
  Bytes image = Pattern(74565);
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  // The checksum goes out as handed in; the CRC of "123456789" is 4B37.
  const uint16_t crc = CRC16ModbusValue(digits, 9);
  ASSERT_EQ(crc, 0x4B37);
  EXPECT_EQ(mod_.muUgdFW(nullptr, crc, 74565, image.data(), ""), 0);
  EXPECT_EQ(Blocks(0x820D).at(0), (Bytes{0x45, 0x23, 0x01, 0x00}));
  EXPECT_EQ(Blocks(0x8210).size(), 325u);
  for (auto& f : Frames()) {
    if (f[7] == 106 && (f[8] << 8 | f[9]) == 0x8283) {
      EXPECT_EQ(f[10], 0x4B);
      EXPECT_EQ(f[11], 0x37);
    }
  }
}

TEST_F(CommandTest, FirmwareFailureAtTheThirdBlockStopsTheTransfer) {
  dev_.failAtBlock = 3;
  Bytes image = Pattern(1000);
  RecordingProgress progress;
  progress.pos = 10;
  EXPECT_EQ(mod_.muUgdFW(&progress, 0, 1000, image.data(), ""), 1);
  EXPECT_EQ(progress.pos, 12);
  auto reqs = Requests();
  EXPECT_EQ(reqs.back(), Req(116, 0x8210));  // no checksum, no closing write
  EXPECT_EQ(wait_.shown, 0);
}

TEST_F(CommandTest, FirmwareOpeningWriteRefusedFailsAndSendsNothingMore) {
  dev_.refuse.insert({106, 0x8200});
  Bytes image = Pattern(10);
  EXPECT_EQ(mod_.muUgdFW(nullptr, 0, 10, image.data(), ""), 1);
  EXPECT_EQ(Requests().back(), Req(106, 0x8200));
  EXPECT_EQ(wait_.shown, 0);
}

TEST_F(CommandTest, FirmwareEmptyImageSendsNoBlock) {
  EXPECT_EQ(mod_.muUgdFW(nullptr, 0xFFFF, 0, nullptr, ""), 0);
  EXPECT_TRUE(Blocks(0x8210).empty());
  EXPECT_EQ(Blocks(0x820D).at(0), (Bytes{0, 0, 0, 0}));
}

TEST_F(CommandTest, FirmwareStepFailuresGiveOne) {
  Bytes image = Pattern(10);
  for (Req r : {Req{116, 0x8201}, Req{116, 0x820D}, Req{116, 0x820F}, Req{106, 0x8283},
                Req{106, 0x8284}}) {
    dev_.refuse = {{static_cast<uint8_t>(r.first), static_cast<uint16_t>(r.second)}};
    EXPECT_EQ(mod_.muUgdFW(nullptr, 0, 10, image.data(), ""), 1) << r.second;
  }
  EXPECT_EQ(wait_.shown, 0);
}

TEST_F(CommandTest, ImportSequenceAndLengthBytes) {
  Bytes text = Pattern(1000);
  EXPECT_EQ(mod_.muImportDev(1000, text.data(), ""), 0);
  auto frames = Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(Bytes(frames[1].begin() + 7, frames[1].end()),
            (Bytes{0x6A, 0x80, 0x0B, 0xE8, 0x03}));
  auto blocks = Blocks(0x800C);
  ASSERT_EQ(blocks.size(), 5u);
  Bytes joined;
  for (auto& b : blocks) joined.insert(joined.end(), b.begin(), b.end());
  EXPECT_EQ(joined, text);
  auto reqs = Requests();
  EXPECT_EQ(reqs.at(reqs.size() - 3), Req(106, 0x807F));
  EXPECT_EQ(reqs.back(), kDiag);
  EXPECT_EQ(wait_.shown, 1);
}

TEST_F(CommandTest, ImportOfMoreThan64KiBAnnouncesTheLow16Bits) {
  Bytes text = Pattern(70000);
  EXPECT_EQ(mod_.muImportDev(70000, text.data(), ""), 0);
  auto frames = Frames();
  // 70000 - 65536 = 4464 = 0x1170, low byte first.
  EXPECT_EQ(frames[1][10], 0x70);
  EXPECT_EQ(frames[1][11], 0x11);
  EXPECT_EQ(Blocks(0x800C).size(), 305u);
}

TEST_F(CommandTest, ImportFailuresGiveFive) {
  Bytes text = Pattern(460);
  for (Req r : {Req{106, 0x800B}, Req{116, 0x800C}, Req{106, 0x807F}}) {
    dev_.refuse = {{static_cast<uint8_t>(r.first), static_cast<uint16_t>(r.second)}};
    EXPECT_EQ(mod_.muImportDev(460, text.data(), ""), 5);
  }
  EXPECT_EQ(wait_.shown, 0);
}

struct TempFile {
  std::FILE* f = std::tmpfile();
  ~TempFile() { std::fclose(f); }
  Bytes Content() {
    std::fflush(f);
    std::rewind(f);
    Bytes b;
    int c;
    while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<uint8_t>(c));
    return b;
  }
};

TEST_F(CommandTest, ExportOf10000BytesIn44Blocks) {
  dev_.exportText = Pattern(10000);
  TempFile file;
  EXPECT_EQ(mod_.muExportDev(file.f, ""), 0);
  std::vector<int> counts;
  for (auto& f : Frames()) {
    if (f[7] == 103 && (f[8] << 8 | f[9]) == 0x8081) counts.push_back(f[11]);
  }
  ASSERT_EQ(counts.size(), 44u);
  EXPECT_EQ(counts.front(), 115);
  EXPECT_EQ(counts.back(), 55);  // 110 bytes
  EXPECT_EQ(file.Content(), dev_.exportText);
  EXPECT_EQ(Requests().back(), Req(106, 0x80F4));
  EXPECT_EQ(wait_.shown, 0);  // no restart after an export
}

TEST_F(CommandTest, ExportOfOddLengthDropsThePadByte) {
  dev_.exportText = Pattern(231);
  TempFile file;
  EXPECT_EQ(mod_.muExportDev(file.f, ""), 0);
  EXPECT_EQ(file.Content(), dev_.exportText);
  auto frames = Frames();
  EXPECT_EQ(frames[frames.size() - 2][11], 1);  // the last block: one register
}

TEST_F(CommandTest, ExportOfNothingWritesNothing) {
  TempFile file;
  EXPECT_EQ(mod_.muExportDev(file.f, ""), 0);
  EXPECT_TRUE(file.Content().empty());
  EXPECT_EQ(Requests(), (std::vector<Req>{kLogin, {103, 0x8080}, {106, 0x80F4}}));
}

TEST_F(CommandTest, ExportFailureCodes) {
  dev_.exportText = Pattern(500);
  {
    dev_.refuse = {{103, 0x8080}};
    TempFile file;
    EXPECT_EQ(mod_.muExportDev(file.f, ""), 5);
  }
  {
    dev_.refuse = {{106, 0x80F4}};
    dev_.exportPos = 0;
    TempFile file;
    EXPECT_EQ(mod_.muExportDev(file.f, ""), 6);
    EXPECT_EQ(file.Content().size(), 500u);
  }
  {
    dev_.refuse = {{103, 0x8081}};
    TempFile file;
    EXPECT_EQ(mod_.muExportDev(file.f, ""), 6);
    EXPECT_TRUE(file.Content().empty());
  }
}

TEST_F(CommandTest, UnreachableDeviceFailsTheLogin) {
  mod_.pSockets[0]->SetPort(1);  // nothing listens on loopback port 1
  EXPECT_EQ(mod_.muRestart(""), 4);
  EXPECT_EQ(peer_.connections(), 0);
}

}  // namespace
}  // namespace orv
