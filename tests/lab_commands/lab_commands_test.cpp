// The device commands of orvistarctl against simulated devices: every result
// code, the frames on the wire (from the devices' request logs) and what the
// devices do afterwards (move, restart, install, keep their settings).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "batch/crc16.h"
#include "lab_fixture.h"

namespace orv::labtest {
namespace {

using nlohmann::json;

const std::string M1 = "00-0A-1B-2C-3D-01", M2 = "00-0A-1B-2C-3D-02", M3 = "00-0A-1B-2C-3D-03",
                  M4 = "00-0A-1B-2C-3D-04", M5 = "00-0A-1B-2C-3D-05", M6 = "00-0A-1B-2C-3D-06",
                  M7 = "00-0A-1B-2C-3D-07";

std::vector<LoggedFrame> Only(const std::vector<LoggedFrame>& frames, const std::string& fc, const std::string& addr) {
  std::vector<LoggedFrame> out;
  for (const auto& f : frames)
    if (f.fc() == fc && f.addr() == addr) out.push_back(f);
  return out;
}

std::string HexText(const std::string& text) {
  return HexOf(std::vector<uint8_t>(text.begin(), text.end()));
}

// A well-formed firmware file of `total` bytes whose header names revision
// major.minor.patch in bytes 4 and 5.
std::vector<uint8_t> FirmwareFile(size_t total, uint8_t major, uint8_t minor, uint8_t patch) {
  std::vector<uint8_t> f(total);
  std::memcpy(f.data(), "DAC!", 4);
  f[4] = static_cast<uint8_t>(minor << 4 | patch);
  f[5] = major;
  f[12] = 15;
  uint32_t l = static_cast<uint32_t>(total - 32);
  std::memcpy(f.data() + 16, &l, 4);  // little-endian host
  uint16_t sum = 0;
  for (size_t i = 32; i < total; ++i) {
    f[i] = static_cast<uint8_t>(i * 31 + 7);
    sum = static_cast<uint16_t>(sum + static_cast<int8_t>(f[i]));
  }
  f[20] = static_cast<uint8_t>(sum);
  f[21] = static_cast<uint8_t>(sum >> 8);
  return f;
}

class CommandsLab : public LabTest {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = (Dir() / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::string Write(const std::string& name, const std::string& text) {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  void ExpectNoDeviceRoutes() {
    Proc r = Exec({"ip", "route", "show", "proto", "181"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "routes left behind";
  }
};

TEST_F(CommandsLab, RestartResetLocateUnlockResultsAndFrames) {
  Up(json::array({Dev(M1, 11), Dev(M2, 12, {{"password", "Other123"}}),
                  Dev(M3, 13, {{"faults", {{"exception_on", {"108"}}}}}), Dev(M4, 14),
                  Dev(M5, 15, {{"faults", {{"exception_on", {"106:80F5"}}}}})}));
  if (IsSkipped() || HasFatalFailure()) return;

  Proc p = Device({"restart", "--mac", M1, "--mac", M2, "--mac", M3});
  json j = Results(p);
  EXPECT_EQ(p.status, 1) << p.err;
  EXPECT_EQ(ResultOf(j, M1), 0);
  EXPECT_EQ(ResultOf(j, M2), 4);
  EXPECT_EQ(ResultOf(j, M3), 2);
  EXPECT_EQ(EntryOf(j, M1)["status"], "Success");
  EXPECT_EQ(EntryOf(j, M2)["status"], "Fail");

  auto f1 = Frames(M1);
  ASSERT_EQ(f1.size(), 2u);
  EXPECT_EQ(f1[0].hex.substr(4, 22), "00000011017481330005" "0a");  // password block write
  EXPECT_EQ(f1[0].hex.size(), 46u);
  EXPECT_EQ(f1[0].hex.substr(44, 2), "00");                          // byte 9 of the block
  EXPECT_EQ(f1[1].hex.substr(4), "000000060" "16c0001ff00");          // restart diagnostics
  EXPECT_NE(Log(M1).find("restart"), std::string::npos);
  EXPECT_EQ(Frames(M2).size(), 1u);  // refused login: nothing else sent
  // The refused diagnostics is repeated once on a new connection with the same identifier.
  auto d3 = Only(Frames(M3), "6c", "0001");
  ASSERT_EQ(d3.size(), 2u);
  EXPECT_EQ(d3[0].hex, d3[1].hex);

  // Reset needs --yes without a terminal; nothing is sent then.
  size_t before = Frames(M4).size();
  p = Device({"reset", "--mac", M4});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(Frames(M4).size(), before);

  p = Device({"reset", "--mac", M4, "--mac", M3, "--yes"});
  j = Results(p);
  EXPECT_EQ(ResultOf(j, M4), 0);
  EXPECT_EQ(ResultOf(j, M3), 3);
  EXPECT_EQ(Only(Frames(M4), "6c", "0001").at(0).count() + Only(Frames(M4), "6c", "0001").at(0).data(),
            "55aa");
  EXPECT_NE(Log(M4).find("factory reset"), std::string::npos);
  // Back at its factory address after the restart.
  EXPECT_EQ(Found(Search(), M4).value("ip", ""), "192.168.127.254");

  p = Device({"locate", "--mac", M1, "--mac", M5});
  j = Results(p);
  EXPECT_EQ(ResultOf(j, M1), 0);
  EXPECT_EQ(ResultOf(j, M5), 7);
  auto loc = Only(Frames(M1), "6a", "80f5");
  ASSERT_EQ(loc.size(), 1u);
  EXPECT_EQ(loc[0].count(), "0100");

  EXPECT_EQ(ResultOf(Results(Device({"unlock", "--mac", M2, "--password", "Other123"})), M2), 0);
  p = Device({"unlock", "--mac", M2});
  EXPECT_EQ(ResultOf(Results(p), M2), 4);
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(ResultOf(Results(Device({"unlock", "--mac", M1})), M1), 0);
  ExpectNoDeviceRoutes();
}

TEST_F(CommandsLab, IpChangeMovesTheDeviceAndRespectsAddressModes) {
  json fleet = json::array({Dev(M1, 11)});
  for (int mode = 1; mode <= 4; ++mode)
    fleet.push_back(Dev("00-0A-1B-2C-3D-0" + std::to_string(mode + 1), 11 + mode, {{"address_mode", mode}}));
  fleet.push_back(Dev(M6, 16, {{"faults", {{"exception_on", {"116:8000"}}}}}));
  fleet.push_back(Dev(M7, 17, {{"faults", {{"exception_on", {"103:8138"}}}}}));
  Up(fleet);
  if (IsSkipped() || HasFatalFailure()) return;

  // Refused before anything is sent: a bad address, the host's own address, no --yes.
  EXPECT_EQ(Device({"set-ip", M1 + "=1.2.3", "--yes"}).status, 2);
  EXPECT_EQ(Device({"set-ip", M1 + "=256.1.1.1", "--yes"}).status, 2);
  EXPECT_EQ(Device({"set-ip", M1 + "=10.77.0.1", "--yes"}).status, 2);
  EXPECT_EQ(Device({"set-ip", M1 + "=10.77.0.60"}).status, 2);
  EXPECT_TRUE(Frames(M1).empty());

  Proc p = Device({"set-ip", M1 + "=10.77.0.60", M2 + "=10.77.0.61", M3 + "=10.77.0.62", M4 + "=10.77.0.63",
                   M5 + "=10.77.0.64", M6 + "=10.77.0.65", M7 + "=10.77.0.66", "--yes"});
  json j = Results(p);
  EXPECT_EQ(p.status, 1) << p.err;
  EXPECT_EQ(ResultOf(j, M1), 0);
  EXPECT_EQ(ResultOf(j, M2), 51);
  EXPECT_EQ(ResultOf(j, M3), 52);
  EXPECT_EQ(ResultOf(j, M4), 53);
  EXPECT_EQ(ResultOf(j, M5), 54);
  EXPECT_EQ(ResultOf(j, M6), 5);
  EXPECT_EQ(ResultOf(j, M7), 5);
  EXPECT_NE(EntryOf(j, M3).value("note", "").find("DHCPBOOTP"), std::string::npos);

  auto ipw = Only(Frames(M1), "74", "8000");
  ASSERT_EQ(ipw.size(), 1u);
  EXPECT_EQ(ipw[0].count() + ipw[0].data(), "0002" "04" "0a4d003c");
  EXPECT_TRUE(Only(Frames(M2), "74", "8000").empty());  // DHCP: nothing written
  EXPECT_EQ(Log(M5).find("restart"), std::string::npos);
  EXPECT_EQ(Only(Frames(M7), "74", "8000").size(), 0u);

  json found = Search();
  EXPECT_EQ(Found(found, M1).value("ip", ""), "10.77.0.60");
  EXPECT_EQ(Found(found, M2).value("ip", ""), "10.77.0.12");
  EXPECT_EQ(Found(found, M6).value("ip", ""), "10.77.0.16");
  // The moved device answers commands at its new address.
  EXPECT_EQ(ResultOf(Results(Device({"unlock", "--mac", M1})), M1), 0);
  ExpectNoDeviceRoutes();
}

TEST_F(CommandsLab, FirmwareBlocksLengthsChecksumAndFailures) {
  Up(json::array({Dev(M1, 11), Dev(M2, 12), Dev(M3, 13, {{"faults", {{"exception_on", {"116:8210#3"}}}}}),
                  Dev(M4, 14, {{"faults", {{"drop_after_fw_blocks", 1}}}}), Dev(M5, 15, {{"password", "Other123"}}),
                  Dev(M6, 16, {{"faults", {{"no_answer_on", {"106:8200"}}}}})}));
  if (IsSkipped() || HasFatalFailure()) return;

  // A bad file is refused before any device is contacted.
  auto bad = FirmwareFile(460, 2, 3, 1);
  bad[0] = 'X';
  Proc p = Device({"upgrade", Write("bad.q6p", bad), "--mac", M1});
  EXPECT_EQ(p.status, 2);
  EXPECT_NE(p.err.find("'Upgrade' function  failed. The firmware file is incorrect."), std::string::npos);
  EXPECT_TRUE(Frames(M1).empty());

  auto img460 = FirmwareFile(460, 2, 3, 1);
  p = Device({"upgrade", Write("a.q6p", img460), "--mac", M1});
  json j = Results(p);
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(EntryOf(j, M1)["blocks"], 2);
  auto f = Frames(M1);
  EXPECT_EQ(Only(f, "6a", "8200").size(), 1u);
  auto constant = Only(f, "74", "8201");
  ASSERT_EQ(constant.size(), 1u);
  EXPECT_EQ(constant[0].count() + constant[0].data().substr(0, 16), "0007" "0e" + HexText("TIRHoHo"));
  auto length = Only(f, "74", "820d");
  ASSERT_EQ(length.size(), 1u);
  EXPECT_EQ(length[0].data(), "04" "cc010000");
  EXPECT_EQ(Only(f, "74", "820f").at(0).data(), "02000f");
  auto blocks = Only(f, "74", "8210");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].count(), "0073");
  EXPECT_EQ(blocks[1].count(), "0073");
  EXPECT_EQ(blocks[0].data().substr(2), HexOf({img460.begin(), img460.begin() + 230}));
  uint16_t crc = CRC16ModbusValue(img460.data(), 460);
  char crcHex[5];
  std::snprintf(crcHex, sizeof crcHex, "%04x", crc);
  EXPECT_EQ(Only(f, "6a", "8283").at(0).count(), crcHex);  // high byte first
  EXPECT_EQ(Only(f, "6a", "8284").at(0).count(), "0000");
  EXPECT_NE(Log(M1).find("firmware installed 460 bytes"), std::string::npos);
  EXPECT_EQ(Found(Search(), M1).value("firmware", ""), "2.3.1");

  auto img231 = FirmwareFile(231, 1, 4, 0);
  p = Device({"upgrade", Write("b.q6p", img231), "--mac", M2});
  EXPECT_EQ(ResultOf(Results(p), M2), 0) << p.err;
  blocks = Only(Frames(M2), "74", "8210");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].count(), "0073");
  EXPECT_EQ(blocks[1].count(), "0001");
  EXPECT_EQ(blocks[1].data().substr(0, 4), "02" + HexOf({img231[230]}));

  // Failures: third block refused, connection dropped after one block, wrong password.
  p = Device({"upgrade", Write("c.q6p", FirmwareFile(1000, 3, 0, 0)), "--mac", M3, "--mac", M4, "--mac", M5});
  j = Results(p);
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(ResultOf(j, M3), 1);
  EXPECT_EQ(EntryOf(j, M3)["blocks"], 2);  // progress advanced by the two blocks that went through
  EXPECT_EQ(Only(Frames(M3), "74", "8210").size(), 3u);
  EXPECT_TRUE(Only(Frames(M3), "6a", "8283").empty());  // no checksum, no closing write
  EXPECT_TRUE(Only(Frames(M3), "6a", "8284").empty());
  EXPECT_EQ(ResultOf(j, M4), 1);
  EXPECT_EQ(EntryOf(j, M4)["blocks"], 1);
  EXPECT_EQ(ResultOf(j, M5), 4);
  EXPECT_EQ(Frames(M5).size(), 1u);

  // An unanswered opening write fails the upgrade before any block goes out.
  auto big = FirmwareFile(74565, 4, 1, 2);
  const std::string bigFile = Write("d.q6p", big);
  p = Device({"upgrade", bigFile, "--mac", M6});
  EXPECT_EQ(ResultOf(Results(p), M6), 1) << p.err;
  EXPECT_TRUE(Only(Frames(M6), "74", "8210").empty());
  // 74565 bytes: the length goes out as 45 23 01 00.
  const size_t blocksBefore = Only(Frames(M1), "74", "8210").size();
  p = Device({"upgrade", bigFile, "--mac", M1});
  j = Results(p);
  EXPECT_EQ(ResultOf(j, M1), 0) << p.err;
  EXPECT_EQ(EntryOf(j, M1)["blocks"], 325);
  EXPECT_EQ(Only(Frames(M1), "74", "820d").back().data(), "04" "45230100");
  EXPECT_EQ(Only(Frames(M1), "74", "8210").size() - blocksBefore, 325u);
  EXPECT_EQ(Found(Search(), M1).value("firmware", ""), "4.1.2");
  ExpectNoDeviceRoutes();
}

TEST_F(CommandsLab, ExportBlocksFilesAndFailures) {
  Up(json::array({Dev(M1, 11, {{"faults", {{"export_size", 10000}}}}), Dev(M2, 12, {{"faults", {{"export_size", 231}}}}),
                  Dev(M3, 13, {{"faults", {{"exception_on", {"103:8080"}}}}}),
                  Dev(M4, 14, {{"faults", {{"exception_on", {"103:8081#2"}}}}}), Dev(M5, 15, {{"password", "Other123"}}),
                  Dev(M6, 16)}));
  if (IsSkipped() || HasFatalFailure()) return;

  std::string out = (Dir() / "out").string();
  std::filesystem::create_directories(out);
  Proc p = Device({"export", "--dir", out, "--mac", M1, "--mac", M2, "--mac", M3, "--mac", M4, "--mac", M5});
  json j = Results(p);
  EXPECT_EQ(p.status, 1) << p.err;
  EXPECT_EQ(ResultOf(j, M1), 0);
  EXPECT_EQ(ResultOf(j, M2), 0);
  EXPECT_EQ(ResultOf(j, M3), 5);
  EXPECT_EQ(ResultOf(j, M4), 6);
  EXPECT_EQ(ResultOf(j, M5), 4);

  auto path = [&](const std::string& mac) { return std::filesystem::path(out) / ("qx7710_" + mac + ".txt"); };
  ASSERT_TRUE(std::filesystem::exists(path(M1)));
  EXPECT_EQ(std::filesystem::file_size(path(M1)), 10000u);
  auto b1 = Only(Frames(M1), "67", "8081");
  ASSERT_EQ(b1.size(), 44u);
  EXPECT_EQ(b1.back().count(), "0037");  // 110 bytes in 55 registers
  std::ifstream in(path(M1), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("MOD_TYPE=K7710-GPRS-C\r\n"), std::string::npos);
  EXPECT_NE(text.find("NET_CONFIG_OVERWRITE="), std::string::npos);
  EXPECT_NE(text.find("IP_ADDRESS=10.77.0.11\r\n"), std::string::npos);
  EXPECT_EQ(Log(M1).find("restart"), std::string::npos);  // no restart after an export

  EXPECT_EQ(std::filesystem::file_size(path(M2)), 231u);
  auto b2 = Only(Frames(M2), "67", "8081");
  ASSERT_EQ(b2.size(), 2u);
  EXPECT_EQ(b2[1].count(), "0001");
  // A failed export leaves no file (and no partial one) under the final name.
  EXPECT_FALSE(std::filesystem::exists(path(M3)));
  EXPECT_FALSE(std::filesystem::exists(path(M4)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 2);

  std::string one = (Dir() / "one.cfg").string();
  p = Device({"export", "--file", one, "--mac", M6});
  EXPECT_EQ(p.status, 0) << p.err;
  std::ifstream in6(one, std::ios::binary);
  std::string t6((std::istreambuf_iterator<char>(in6)), std::istreambuf_iterator<char>());
  EXPECT_NE(t6.find("IP_ADDRESS=10.77.0.16\r\n"), std::string::npos);
  EXPECT_EQ(Device({"export", "--file", one, "--all"}).status, 2);  // --file takes one device
  ExpectNoDeviceRoutes();
}

TEST_F(CommandsLab, ImportLengthBlocksModelAndNetworkRule) {
  Up(json::array({Dev(M1, 11), Dev(M2, 12), Dev(M3, 13, {{"faults", {{"exception_on", {"106:807F"}}}}}),
                  Dev(M4, 14, {{"password", "Other123"}}), Dev(M5, 15, {{"hwid", "0x0201"}})}));
  if (IsSkipped() || HasFatalFailure()) return;

  std::string head = "[SYSTEM]\r\nMOD_TYPE=K7710-GPRS-C\r\nNET_CONFIG_OVERWRITE=1\r\nIP_ADDRESS=10.77.0.71\r\n";
  std::string big = head;
  // The longest file the 16-bit length register can announce.
  while (big.size() < 65535) big += "COMMENT=padding line of a large configuration\r\n";
  big.resize(65535);
  Proc p = Device({"import", Write("big.txt", big), "--mac", M1, "--yes"});
  EXPECT_EQ(ResultOf(Results(p), M1), 0) << p.err;
  auto f = Frames(M1);
  auto len = Only(f, "6a", "800b");
  ASSERT_EQ(len.size(), 1u);
  EXPECT_EQ(len[0].count(), "ffff");
  auto blocks = Only(f, "74", "800c");
  ASSERT_EQ(blocks.size(), 285u);
  // Network settings are not updated without --update-network: the key goes out as 0.
  EXPECT_NE(blocks[0].data().find(HexText("NET_CONFIG_OVERWRITE=0")), std::string::npos);
  EXPECT_EQ(Only(f, "6a", "807f").size(), 1u);
  EXPECT_NE(Log(M1).find("configuration imported 65535 bytes"), std::string::npos) << Log(M1);
  EXPECT_NE(Log(M1).find("restart"), std::string::npos);

  std::string small = "MOD_TYPE=K7710-GPRS-C\r\nNET_CONFIG_OVERWRITE=1\r\nIP_ADDRESS=10.77.0.72\r\nCOM1_BAUD=19200\r\n";
  std::string smallPath = Write("small.txt", small);
  p = Device({"import", smallPath, "--mac", M2, "--update-network", "--yes"});
  EXPECT_EQ(ResultOf(Results(p), M2), 0) << p.err;
  EXPECT_NE(Only(Frames(M2), "74", "800c").at(0).data().find(HexText("NET_CONFIG_OVERWRITE=1")), std::string::npos);

  // Several devices: never network settings; a refused closing write and a refused login.
  p = Device({"import", smallPath, "--mac", M3, "--mac", M4, "--update-network", "--yes"});
  json j = Results(p);
  EXPECT_EQ(ResultOf(j, M3), 5);
  EXPECT_EQ(ResultOf(j, M4), 4);
  EXPECT_NE(p.err.find("The device network setting will not update."), std::string::npos);
  EXPECT_NE(Only(Frames(M3), "74", "800c").at(0).data().find(HexText("NET_CONFIG_OVERWRITE=0")), std::string::npos);

  // Wrong model: refused before any device is written; no --yes: refused too.
  p = Device({"import", smallPath, "--mac", M5, "--yes"});
  EXPECT_EQ(p.status, 2);
  EXPECT_NE(p.err.find("Import file does not match the model type."), std::string::npos);
  EXPECT_TRUE(Frames(M5).empty());
  EXPECT_EQ(Device({"import", smallPath, "--mac", M1}).status, 2);

  json found = Search();
  EXPECT_EQ(Found(found, M1).value("ip", ""), "10.77.0.11");  // kept its address
  EXPECT_EQ(Found(found, M2).value("ip", ""), "10.77.0.72");  // moved
  // What was imported comes back on export.
  std::string back = (Dir() / "back.txt").string();
  EXPECT_EQ(Device({"export", "--file", back, "--mac", M2}).status, 0);
  std::ifstream in(back, std::ios::binary);
  std::string t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(t.find("COM1_BAUD=19200"), std::string::npos);
  EXPECT_NE(t.find("IP_ADDRESS=10.77.0.72"), std::string::npos);
  ExpectNoDeviceRoutes();
}

TEST_F(CommandsLab, SilentSplitSlowAndCutReplies) {
  Up(json::array({Dev(M1, 11, {{"faults", {{"no_answer", true}}}}), Dev(M2, 12, {{"faults", {{"split_replies", true}}}}),
                  Dev(M3, 13, {{"faults", {{"reply_delay_ms", 300}}}}),
                  Dev(M4, 14, {{"faults", {{"close_mid_reply_on", {"116:8133"}}}}}),
                  Dev(M5, 15, {{"faults", {{"close_mid_reply_on", {"108"}}}}})}));
  if (IsSkipped() || HasFatalFailure()) return;

  auto t0 = std::chrono::steady_clock::now();
  Proc p = Device({"locate", "--mac", M1, "--mac", M2, "--mac", M3, "--mac", M4});
  auto secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  json j = Results(p);
  EXPECT_EQ(ResultOf(j, M1), 4);  // the login waits out its 5 s limit
  EXPECT_EQ(ResultOf(j, M2), 0);  // replies in 5 + 7 bytes are put together
  EXPECT_EQ(ResultOf(j, M3), 0);
  EXPECT_EQ(ResultOf(j, M4), 4);  // a reply cut in the middle
  EXPECT_GE(secs, 5.0);
  EXPECT_LT(secs, 20.0);
  EXPECT_EQ(Frames(M1).size(), 1u);
  EXPECT_EQ(Frames(M2).size(), 2u);

  // A restart whose reply is cut is repeated once on a new connection, same identifier.
  p = Device({"restart", "--mac", M5});
  EXPECT_EQ(ResultOf(Results(p), M5), 2);
  auto d = Only(Frames(M5), "6c", "0001");
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].tid(), d[1].tid());
}

TEST_F(CommandsLab, CtrlCLetsTheDeviceUnderWayFinishAndStartsNoOther) {
  Up(json::array({Dev(M1, 11), Dev(M2, 12), Dev(M3, 13)}));
  if (IsSkipped() || HasFatalFailure()) return;

  bool sent = false;
  Proc p = Ctl({"restart", "--mac", M1, "--mac", M2, "--mac", M3, "--nic", "10.77.0.1", "--cycles", "2"},
               [&](pid_t pid, const std::string&, const std::string& err) {
                 if (!sent && err.find("waiting for the device to restart") != std::string::npos) {
                   kill(pid, SIGINT);
                   sent = true;
                 }
               });
  ASSERT_TRUE(sent) << p.err;
  EXPECT_EQ(p.status, 3) << p.err;
  EXPECT_NE(p.err.find("User has stopped the 'Restart' procedure."), std::string::npos);
  // Devices run in search order: the first one finishes, the others never hear from us.
  int done = 0, untouched = 0;
  for (const auto& mac : {M1, M2, M3}) {
    if (p.out.find(mac) != std::string::npos) {
      ++done;
      EXPECT_NE(p.out.find(mac + "  10.77.0.1"), std::string::npos);
      EXPECT_NE(p.out.find("Success  0"), std::string::npos) << p.out;
      EXPECT_NE(Log(mac).find("restart"), std::string::npos);
    } else if (Frames(mac).empty()) {
      ++untouched;
    }
  }
  EXPECT_EQ(done, 1) << p.out;
  EXPECT_EQ(untouched, 2);
  ExpectNoDeviceRoutes();
}

// First and last request time of each device's session in its log.
struct Span {
  std::string first, last;
  bool Overlaps(const Span& o) const { return first < o.last && o.first < last; }
};

TEST_F(CommandsLab, ParallelRunsGiveTheSequentialResultsAndCleanUp) {
  const nlohmann::json slow = {{"faults", {{"reply_delay_ms", 200}}}};
  auto factory = [&](const std::string& mac) {
    nlohmann::json extra = slow;
    extra.update({{"ip", "192.168.127.254"}, {"gateway", "192.168.127.1"}});
    return Dev(mac, 0, extra);
  };
  Up(json::array({Dev(M1, 11, slow), Dev(M2, 12, slow), Dev(M3, 13, {{"password", "Other123"}}),
                  Dev(M4, 14, {{"faults", {{"exception_on", {"106:80F5"}}}}}), factory(M5), factory(M6)}));
  if (IsSkipped() || HasFatalFailure()) return;
  const std::vector<std::string> all = {M1, M2, M3, M4, M5, M6};
  auto spans = [&] {
    std::map<std::string, Span> out;
    for (const auto& mac : all) {
      std::ifstream in(Dir() / "logs" / (mac + ".log"));
      for (std::string line; std::getline(in, line);) {
        if (line.find(" tcp ") == std::string::npos) continue;
        Span& sp = out[mac];
        if (sp.first.empty()) sp.first = line.substr(0, line.find(' '));
        sp.last = line.substr(0, line.find(' '));
      }
    }
    return out;
  };

  // Six at once, with the report as CSV.
  const std::string csv = (Dir() / "r.csv").string(), rjson = (Dir() / "r.json").string();
  Proc par = Device({"locate", "--all", "--jobs", "6", "--report", csv});
  auto seen = spans();
  ASSERT_EQ(seen.size(), 6u) << par.err;
  EXPECT_TRUE(seen[M1].Overlaps(seen[M2])) << "no two devices were served at once";
  EXPECT_FALSE(seen[M5].Overlaps(seen[M6])) << "two devices at one address were served at once";
  EXPECT_EQ(ResultOf(Results(par), M3), 4);
  EXPECT_EQ(ResultOf(Results(par), M4), 7);

  // One at a time over the same lab: the same results, the same exit code.
  Proc seq = Device({"locate", "--all", "--report", rjson});
  EXPECT_EQ(par.status, 1);
  EXPECT_EQ(seq.status, par.status);
  const json a = Results(par), b = Results(seq);
  for (const auto& mac : all) EXPECT_EQ(ResultOf(a, mac), ResultOf(b, mac)) << mac;
  EXPECT_EQ(a["succeeded"], 4);
  EXPECT_EQ(b["succeeded"], 4);

  // Both report formats hold every device with its result.
  std::ifstream csvIn(csv);
  std::string header, line;
  std::getline(csvIn, header);
  EXPECT_EQ(header, "finished,mac,address,model,operation,result,text,seconds\r");
  int rows = 0;
  while (std::getline(csvIn, line)) {
    ++rows;
    if (line.find(M4) != std::string::npos) EXPECT_NE(line.find(",locate,7,Fail,"), std::string::npos) << line;
  }
  EXPECT_EQ(rows, 6);
  const json report = json::parse(std::ifstream(rjson), nullptr, false);
  ASSERT_TRUE(report.is_array());
  ASSERT_EQ(report.size(), 6u);
  for (const auto& r : report) {
    EXPECT_EQ(r["operation"], "locate");
    EXPECT_EQ(r["result"], ResultOf(b, r["mac"]));
    EXPECT_GT(r["seconds"].get<double>(), 0.0);
  }

  // The operations log has both runs; `log` filters them by device.
  Proc log = Ctl({"log", "--mac", M4, "--json"});
  EXPECT_EQ(log.status, 0) << log.err;
  const json entries = json::parse(log.out, nullptr, false);
  ASSERT_TRUE(entries.is_array()) << log.out;
  EXPECT_EQ(entries.size(), 2u);
  // A log that cannot be written warns once and fails nothing.
  std::ofstream(Dir() / "blocker") << "x";
  Proc unlogged = Exec({"env", "XDG_STATE_HOME=" + (Dir() / "blocker").string(), Ctl(), "unlock", "--mac", M1,
                        "--mac", M2, "--jobs", "2", "--nic", "10.77.0.1", "--cycles", "2"});
  EXPECT_EQ(unlogged.status, 0) << unlogged.err;
  size_t warnings = 0;
  for (size_t at = 0; (at = unlogged.err.find("operations log", at)) != std::string::npos; ++at) ++warnings;
  EXPECT_EQ(warnings, 1u) << unlogged.err;

  // Ctrl-C while six restart at once: those under way finish, none is left routed.
  bool sent = false;
  Proc stopped = Ctl({"restart", "--all", "--jobs", "6", "--nic", "10.77.0.1", "--cycles", "2"},
                     [&](pid_t pid, const std::string&, const std::string& err) {
                       if (!sent && err.find("waiting for the device to restart") != std::string::npos) {
                         kill(pid, SIGINT);
                         sent = true;
                       }
                     });
  ASSERT_TRUE(sent) << stopped.err;
  EXPECT_EQ(stopped.status, 3) << stopped.err;
  EXPECT_NE(stopped.out.find(M1), std::string::npos) << stopped.out;
  // Of the two at one address only the first started: the second waited for it.
  EXPECT_NE(stopped.out.find(M5) == std::string::npos, stopped.out.find(M6) == std::string::npos) << stopped.out;
  ExpectNoDeviceRoutes();
  Proc neigh = Exec({"ip", "neigh", "show", "nud", "permanent"});
  EXPECT_EQ(neigh.out, "") << "ARP entries left behind";
}

TEST_F(CommandsLab, ConsoleHoldsTheDeviceEntriesOnlyWhileTheClientRuns) {
  Up(json::array({Dev(M5, 0, {{"ip", "192.168.127.254"}, {"gateway", "192.168.127.1"}})}));
  if (IsSkipped() || HasFatalFailure()) return;
  // The client shows what the host holds for the device while it runs.
  Proc p = Ctl({"console", M5, "--nic", "10.77.0.1", "--cycles", "2", "--client",
                "sh -c \"ip route show proto 181; ip neigh show nud permanent; echo at $0\" %a"});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_NE(p.out.find("192.168.127.254"), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("lladdr 00:0a:1b:2c:3d:05 PERMANENT"), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("at 192.168.127.254"), std::string::npos) << p.out;
  ExpectNoDeviceRoutes();
  EXPECT_EQ(Exec({"ip", "neigh", "show", "nud", "permanent"}).out, "");

  // Ended from outside while the client runs: the client goes, so do the entries.
  bool sent = false;
  Proc q = Ctl({"console", M5, "--nic", "10.77.0.1", "--cycles", "2", "--client", "sleep 30"},
               [&](pid_t pid, const std::string&, const std::string& err) {
                 if (!sent && err.find("connecting to") != std::string::npos) {
                   std::this_thread::sleep_for(std::chrono::milliseconds(300));
                   kill(pid, SIGINT);
                   sent = true;
                 }
               });
  ASSERT_TRUE(sent) << q.err;
  EXPECT_EQ(q.status, 128 + SIGINT) << q.err;
  ExpectNoDeviceRoutes();
  EXPECT_EQ(Exec({"ip", "neigh", "show", "nud", "permanent"}).out, "");
}

std::string Colons(std::string mac) {
  for (char& c : mac) c = c == '-' ? ':' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return mac;
}

// The host's tables are shared: with the administrator, the operator, and
// other runs of the program at the same time.
TEST_F(CommandsLab, RunsUseOthersEntriesAsTheyAreAndShareTheirOwn) {
  const nlohmann::json factory = {{"ip", "192.168.127.254"}, {"gateway", "192.168.127.1"}};
  Up(json::array({Dev(M1, 11), Dev(M2, 12), Dev(M3, 13), Dev(M5, 0, factory), Dev(M7, 0, factory)}));
  if (IsSkipped() || HasFatalFailure()) return;
  auto sh = [&](const std::string& cmd) { return Exec({"sh", "-c", cmd}); };
  const std::string perm5 = "192.168.127.254 dev br0 lladdr " + Colons(M5) + " PERMANENT";

  // Somebody else's entries: an administrator's static route and permanent
  // entry, an operator route, a route of another protocol.
  ASSERT_EQ(sh("ip route add 10.77.0.11/32 dev br0 proto static && ip route add 10.77.0.13/32 dev br0 proto boot && "
               "ip neigh replace 192.168.127.254 lladdr " + Colons(M5) + " nud permanent dev br0").status, 0);
  ASSERT_EQ(Ctl({"route", "add", "10.77.0.12", "--nic", "10.77.0.1"}).status, 0);
  const std::string before = sh("ip route show; ip neigh show nud permanent").out;
  Proc p = Device({"locate", "--mac", M1, "--mac", M2, "--mac", M3, "--mac", M5, "--jobs", "4"});
  EXPECT_EQ(p.status, 0) << p.err;
  // Another MAC at the administrator's address fails, naming what is there.
  Proc q = Device({"locate", "--mac", M7});
  EXPECT_EQ(q.status, 1);
  EXPECT_EQ(ResultOf(Results(q), M7), -1);
  EXPECT_NE(q.out.find(M5), std::string::npos) << q.out;
  EXPECT_TRUE(Frames(M7).empty());
  EXPECT_EQ(sh("ip route show; ip neigh show nud permanent").out, before);
  ASSERT_EQ(sh("ip route del 10.77.0.11/32 && ip route del 10.77.0.13/32 && ip neigh del 192.168.127.254 dev br0")
                .status, 0);
  ASSERT_EQ(Ctl({"route", "remove", "10.77.0.12"}).status, 0);

  // A long run (standing in for the window) holds M5's entries while a short
  // one uses the same device and ends: the entries stay for the long run.
  // A run for M7 at the same address waits until the long run lets go.
  auto longRun = [&](const std::string& client, pid_t* pid) {
    return Ctl({"console", M5, "--nic", "10.77.0.1", "--cycles", "2", "--client", client},
               [pid](pid_t p, const std::string&, const std::string&) { *pid = p; });
  };
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 100; ++i) {
      if (sh("ip neigh show nud permanent").out.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };
  pid_t holder = 0;
  Proc held;
  std::thread first([&] { held = longRun("sh -c \"sleep 6; ip neigh show %a nud permanent\"", &holder); });
  ASSERT_TRUE(waitFor(Colons(M5)));
  Proc shortRun = Device({"locate", "--mac", M5});
  EXPECT_EQ(shortRun.status, 0) << shortRun.err;
  EXPECT_NE(sh("ip neigh show nud permanent").out.find(perm5), std::string::npos) << "taken from the long run";
  EXPECT_NE(sh("ip route show proto 181").out.find("192.168.127.254"), std::string::npos);
  Proc other = Device({"locate", "--mac", M7});
  first.join();
  EXPECT_EQ(held.status, 0) << held.err;
  EXPECT_NE(held.out.find(Colons(M5)), std::string::npos) << "the long run's entry was changed: " << held.out;
  EXPECT_NE(other.err.find("waiting: another run of the program"), std::string::npos) << other.err;
  EXPECT_EQ(ResultOf(Results(other), M7), 0) << other.err;
  ExpectNoDeviceRoutes();
  EXPECT_EQ(sh("ip neigh show nud permanent").out, "");

  // A run killed outright leaves its entries; the next start removes exactly
  // those, not the administrator's.
  ASSERT_EQ(sh("ip neigh replace 10.77.0.99 lladdr 02:00:00:00:00:99 nud permanent dev br0").status, 0);
  std::thread killed([&] { held = longRun("sleep 30", &holder); });
  ASSERT_TRUE(waitFor(Colons(M5)));
  kill(holder, SIGKILL);
  killed.join();
  EXPECT_NE(sh("ip route show proto 181").out, "");
  EXPECT_EQ(Device({"locate", "--mac", M1}).status, 0);
  ExpectNoDeviceRoutes();
  const std::string left = sh("ip neigh show nud permanent").out;
  EXPECT_EQ(left.rfind("10.77.0.99 dev br0 lladdr 02:00:00:00:00:99 PERMANENT", 0), 0u) << left;
  EXPECT_EQ(left.find('\n'), left.size() - 1) << left;
}

// Broken devices and bad input: nothing read as success, nothing sent that
// the device would take wrongly.
TEST_F(CommandsLab, BrokenRepliesBadFilesAndAddressesNoDeviceMayHave) {
  Up(json::array({Dev(M1, 11, {{"faults", {{"padded_exception_on", {"106:80F5"}}}}}),
                  Dev(M2, 12, {{"faults", {{"double_reply_on", {"116:8133"}}}}}), Dev(M3, 13),
                  Dev(M4, 14, {{"faults", {{"close_mid_reply_on", {"103:8081#2"}}}}})}));
  if (IsSkipped() || HasFatalFailure()) return;
  // An exception padded to the length of a normal reply is still a refusal.
  Proc p = Device({"locate", "--mac", M1});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(ResultOf(Results(p), M1), 7) << p.out;
  // A login reply sent twice is never read as the configuration.
  const std::string file = (Dir() / "m2.txt").string();
  std::ofstream(file) << "MOD_TYPE=K7710 earlier\n";
  p = Device({"export", "--mac", M2, "--file", file});
  EXPECT_NE(ResultOf(Results(p), M2), 0) << p.out;
  std::stringstream kept;
  kept << std::ifstream(file).rdbuf();
  EXPECT_EQ(kept.str(), "MOD_TYPE=K7710 earlier\n");
  // An export the device breaks off leaves the earlier file as it was.
  p = Device({"export", "--mac", M4, "--file", file});
  EXPECT_NE(ResultOf(Results(p), M4), 0) << p.out;
  std::stringstream stillKept;
  stillKept << std::ifstream(file).rdbuf();
  EXPECT_EQ(stillKept.str(), "MOD_TYPE=K7710 earlier\n");
  // A file system that refuses the bytes fails the export.
  p = Device({"export", "--mac", M3, "--file", "/dev/full"});
  EXPECT_EQ(ResultOf(Results(p), M3), 6) << p.out;

  // The length register holds 16 bits: 65535 bytes go, 65536 and 0 do not,
  // and then no device is contacted.
  const size_t before = Frames(M3).size();
  std::string text = "MOD_TYPE=K7710\r\nNET_CONFIG_OVERWRITE=0\r\n";
  for (const size_t size : {size_t{65536}, size_t{0}}) {
    std::string body = size ? text + std::string(size - text.size(), ';') : "";
    p = Ctl({"import", Write("c" + std::to_string(size) + ".txt", body), "--mac", M3, "--yes", "--nic", "10.77.0.1",
             "--cycles", "2"});
    EXPECT_EQ(p.status, 2) << size << p.err;
  }
  EXPECT_EQ(Frames(M3).size(), before);
  p = Device({"import", Write("c65535.txt", text + std::string(65535 - text.size(), ';')), "--mac", M3, "--yes"});
  EXPECT_GT(Frames(M3).size(), before) << p.err;

  // Addresses no device may have are refused before anything is sent.
  const size_t sent = Frames(M3).size();
  for (const char* bad : {"224.0.0.1", "239.1.2.3", "127.0.0.1", "240.0.0.1", "0.1.2.3"}) {
    p = Ctl({"set-ip", M3 + "=" + bad, "--yes", "--nic", "10.77.0.1", "--cycles", "2"});
    EXPECT_EQ(p.status, 2) << bad;
    EXPECT_NE(p.err.find("The IP address cannot be given to a device."), std::string::npos) << p.err;
  }
  EXPECT_EQ(Frames(M3).size(), sent);
}

TEST_F(CommandsLab, ARunHoldsOnlyTheEntriesOfTheDeviceUnderWayAndAHeldLockEndsOnSigterm) {
  Up(json::array({Dev(M1, 11), Dev(M2, 12), Dev(M3, 13)}));
  if (IsSkipped() || HasFatalFailure()) return;
  // One after the other, each device's entries go when its turn ends.
  size_t most = 0;
  Proc p = Ctl({"restart", "--mac", M1, "--mac", M2, "--mac", M3, "--nic", "10.77.0.1", "--cycles", "2"},
               [&](pid_t, const std::string&, const std::string&) {
                 const std::string r = Exec({"ip", "route", "show", "proto", "181"}).out;
                 most = std::max<size_t>(most, static_cast<size_t>(std::count(r.begin(), r.end(), '\n')));
               });
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(most, 1u);

  // Somebody holds the route lock: the run says what it waits for, and
  // SIGTERM ends the wait and the run at once.
  const std::string dir = "/run/orvistar/net-$(stat -L -c %i /proc/self/ns/net)";
  std::thread holder([&] { Exec({"sh", "-c", "mkdir -p " + dir + " && flock " + dir + "/tables.lock sleep 8"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const size_t framesBefore = Frames(M1).size();
  bool sent = false;
  const auto t0 = std::chrono::steady_clock::now();
  Proc q = Ctl({"locate", "--mac", M1, "--nic", "10.77.0.1", "--cycles", "2"},
               [&](pid_t pid, const std::string&, const std::string& err) {
                 if (!sent && err.find("waiting up to 10 s for the route lock") != std::string::npos) {
                   kill(pid, SIGTERM);
                   sent = true;
                 }
               });
  const auto took = std::chrono::steady_clock::now() - t0;
  holder.join();
  ASSERT_TRUE(sent) << q.err;
  EXPECT_EQ(q.status, 3) << q.err;
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_EQ(Frames(M1).size(), framesBefore) << "the device was contacted without its entries";
  ExpectNoDeviceRoutes();
}

}  // namespace
}  // namespace orv::labtest
