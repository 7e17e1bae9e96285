// Firmware file checks, the CRC, and the configuration text rules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "batch/config_text.h"
#include "batch/crc16.h"
#include "batch/firmware_file.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A well-formed file with the given payload (sum filled in).
Bytes Firmware(const Bytes& payload) {
  Bytes f(32, 0);
  f[0] = 'D';
  f[1] = 'A';
  f[2] = 'C';
  f[3] = '!';
  Put32(f, 4, 0x01020304);
  Put32(f, 12, 15);
  Put32(f, 16, static_cast<uint32_t>(payload.size()));
  uint16_t sum = 0;
  for (uint8_t b : payload) sum = static_cast<uint16_t>(sum + static_cast<int8_t>(b));
  f[20] = static_cast<uint8_t>(sum);
  f[21] = static_cast<uint8_t>(sum >> 8);
  for (uint8_t b : payload) f.push_back(b);
  return f;
}

std::string WriteTemp(const Bytes& b) {
  char name[] = "/tmp/td1fwXXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  close(fd);
  return name;
}

TEST(Crc16Modbus, KnownVectorsAndBytes) {
  const char* digits = "123456789";
  uint8_t lo = 0, hi = 0;
  CRC16Modbus(reinterpret_cast<const uint8_t*>(digits), 9, lo, hi);
  EXPECT_EQ(lo, 0x37);
  EXPECT_EQ(hi, 0x4B);
  EXPECT_EQ(CRC16ModbusValue(reinterpret_cast<const uint8_t*>(digits), 9), 0x4B37);
  EXPECT_EQ(CRC16ModbusValue(nullptr, 0), 0xFFFF);
  const uint8_t one[] = {0x01};
  EXPECT_EQ(CRC16ModbusValue(one, 1), 0x807E);
}

TEST(FirmwareFile, WellFormedImageIsTheHeaderPlusPayload) {
  Bytes payload = {1, 2, 3, 0x80, 0xFF};
  Bytes file = Firmware(payload);
  Bytes trailing = file;
  trailing.push_back(0x55);
  trailing.push_back(0x66);
  FirmwareImage img;
  ASSERT_EQ(CheckFirmwareData(trailing, img), FirmwareCheck::Ok);
  EXPECT_EQ(img.image, file);  // trailing bytes neither kept nor summed
  EXPECT_EQ(img.payloadLength, 5);
  EXPECT_EQ(img.crc, CRC16ModbusValue(file.data(), static_cast<uint32_t>(file.size())));

  FirmwareImage empty;
  ASSERT_EQ(CheckFirmwareData(Firmware({}), empty), FirmwareCheck::Ok);
  EXPECT_EQ(empty.image.size(), 32u);
  EXPECT_EQ(FirmwareProgressMax(32), 0);
  EXPECT_EQ(FirmwareProgressMax(32 + 1000), 4);
}

TEST(FirmwareFile, HeaderRules) {
  FirmwareImage img;
  for (int i = 0; i < 4; ++i) {
    Bytes f = Firmware({1, 2});
    f[i] ^= 0x20;
    EXPECT_EQ(CheckFirmwareData(f, img), FirmwareCheck::BadMagic) << i;
  }
  Bytes f14 = Firmware({1});
  Put32(f14, 12, 14);
  EXPECT_EQ(CheckFirmwareData(f14, img), FirmwareCheck::BadFixedValue);
  Bytes shortHeader(31, 0);
  EXPECT_EQ(CheckFirmwareData(shortHeader, img), FirmwareCheck::ShortHeader);
}

TEST(FirmwareFile, SignedPayloadSum) {
  FirmwareImage img;
  // 0x01 + 0xFF sums to 0 when bytes are signed.
  Bytes f = Firmware({0x01, 0xFF});
  EXPECT_EQ(f[20], 0);
  EXPECT_EQ(f[21], 0);
  EXPECT_EQ(CheckFirmwareData(f, img), FirmwareCheck::Ok);
  Bytes ff = Firmware({0xFF, 0xFF});
  EXPECT_EQ(ff[20] | ff[21] << 8, 0xFFFE);
  EXPECT_EQ(CheckFirmwareData(ff, img), FirmwareCheck::Ok);
  ff[20] = 0xFE;
  ff[21] = 0x01;  // the unsigned sum
  EXPECT_EQ(CheckFirmwareData(ff, img), FirmwareCheck::BadSum);
}

TEST(FirmwareFile, LengthRulesNeverTrustTheHeader) {
  FirmwareImage img;
  Bytes neg = Firmware({1, 2, 3});
  Put32(neg, 16, 0xFFFFFFFF);
  EXPECT_EQ(CheckFirmwareData(neg, img), FirmwareCheck::NegativeLength);
  Bytes huge = Firmware({1, 2, 3});
  Put32(huge, 16, 0x7FFFFFFF);
  EXPECT_EQ(CheckFirmwareData(huge, img), FirmwareCheck::OversizedLength);
  Bytes shortPayload = Firmware({1, 2, 3});
  Put32(shortPayload, 16, 4);
  EXPECT_EQ(CheckFirmwareData(shortPayload, img), FirmwareCheck::ShortPayload);
  EXPECT_TRUE(img.image.empty());
}

TEST(FirmwareFile, LoadFromDisk) {
  Bytes payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
  Bytes good = Firmware(payload);
  const std::string path = WriteTemp(good);
  FirmwareImage img;
  ASSERT_EQ(LoadFirmwareFile(path, img), FirmwareCheck::Ok);
  EXPECT_EQ(img.image, good);

  // A crafted 2 GiB length on a small file is refused before any reservation.
  Bytes crafted = Firmware({1});
  Put32(crafted, 16, 0x7FFFFFF0);
  const std::string p2 = WriteTemp(crafted);
  FirmwareImage img2;
  EXPECT_EQ(LoadFirmwareFile(p2, img2), FirmwareCheck::OversizedLength);
  EXPECT_EQ(img2.image.capacity(), 0u);
  Put32(crafted, 16, 1000);
  const std::string p3 = WriteTemp(crafted);
  EXPECT_EQ(LoadFirmwareFile(p3, img2), FirmwareCheck::ShortPayload);
  EXPECT_EQ(img2.image.capacity(), 0u);
  const std::string p4 = WriteTemp(Bytes(20, 'D'));
  EXPECT_EQ(LoadFirmwareFile(p4, img2), FirmwareCheck::ShortHeader);
  EXPECT_EQ(LoadFirmwareFile("/nonexistent/td1.q6p", img2), FirmwareCheck::CannotOpen);
  for (const auto& p : {path, p2, p3, p4}) std::remove(p.c_str());
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(ConfigText, ModelCheck) {
  const std::string model = "K7710-GPRS-C";
  EXPECT_TRUE(ConfigModelMatches(Text("A=1\r\nMOD_TYPE=K7710-HSDPA\r\n"), model));
  EXPECT_FALSE(ConfigModelMatches(Text("A=1\r\nMOD_TYPE=K7711\r\n"), model));
  EXPECT_FALSE(ConfigModelMatches(Text("MOD_TYPE=Tramix 4410\n"), model));
  EXPECT_TRUE(ConfigModelMatches(Text("A=1\nB=2\n"), model));  // no tag: no check
  EXPECT_FALSE(ConfigModelMatches(Text("MOD_TYPE=K77"), model));  // too short
  EXPECT_FALSE(ConfigModelMatches(Text("MOD_TYPE=K7710"), "K77"));
  // The first occurrence counts.
  EXPECT_FALSE(ConfigModelMatches(Text("MOD_TYPE=Q6200\nMOD_TYPE=K7710\n"), model));
  // Keys after a NUL byte are not seen.
  Bytes nul = Text("A=1\n");
  nul.push_back(0);
  for (uint8_t c : Text("MOD_TYPE=XXXXX\n")) nul.push_back(c);
  EXPECT_TRUE(ConfigModelMatches(nul, model));
  EXPECT_TRUE(ConfigModelMatches({}, model));
}

TEST(ConfigText, NetworkOverwriteRule) {
  Bytes t = Text("IP=10.0.0.2\r\nNET_CONFIG_OVERWRITE=1\r\nNET_CONFIG_OVERWRITE=1\r\n");
  Bytes keep = t;
  EXPECT_FALSE(ApplyNetConfigRule(keep, true));
  EXPECT_EQ(keep, t);
  EXPECT_TRUE(ApplyNetConfigRule(t, false));
  EXPECT_EQ(t, Text("IP=10.0.0.2\r\nNET_CONFIG_OVERWRITE=0\r\nNET_CONFIG_OVERWRITE=1\r\n"));
  Bytes atEnd = Text("A=1\nNET_CONFIG_OVERWRITE=");
  Bytes atEndCopy = atEnd;
  EXPECT_FALSE(ApplyNetConfigRule(atEnd, false));
  EXPECT_EQ(atEnd, atEndCopy);
  Bytes absent = Text("A=1\n");
  EXPECT_FALSE(ApplyNetConfigRule(absent, false));
  Bytes zero = Text("NET_CONFIG_OVERWRITE=0\n");
  EXPECT_FALSE(ApplyNetConfigRule(zero, false));
  EXPECT_EQ(zero, Text("NET_CONFIG_OVERWRITE=0\n"));
}

TEST(ConfigText, ExportFileNames) {
  EXPECT_EQ(ExportSingleFileName("K7710-GPRS-C"), "qx7710.txt");
  EXPECT_EQ(ExportDeviceFileName("K7710-GPRS-C", "00-0A-1B-2C-3D-4E"),
            "qx7710_00-0A-1B-2C-3D-4E.txt");
  EXPECT_EQ(ExportDeviceFileName("Tramix 4410-5-RJ45-C", "00-0A-1B-2C-3D-4F"),
            "qxrami_00-0A-1B-2C-3D-4F.txt");
  EXPECT_EQ(ExportDevicePath("/tmp/out", "K7710-GPRS-C", "AA"), "/tmp/out/qx7710_AA.txt");
  EXPECT_EQ(ExportDevicePath("/tmp/out/", "K7710-GPRS-C", "AA"), "/tmp/out/qx7710_AA.txt");
  EXPECT_EQ(ExportWithTxtExtension("result"), "result.txt");
  EXPECT_EQ(ExportWithTxtExtension("cfg.txt.bak"), "cfg.txt.bak");
  EXPECT_EQ(ExportWithTxtExtension("CFG.TXT"), "CFG.TXT.txt");
}

TEST(ConfigText, LoadWholeFile) {
  Bytes content = Text("MOD_TYPE=K7710\r\nNET_CONFIG_OVERWRITE=1\r\n");
  content.push_back(0);
  content.push_back('x');
  const std::string path = WriteTemp(content);
  Bytes got;
  EXPECT_EQ(LoadConfigFile(path, got), ConfigLoad::Ok);
  EXPECT_EQ(got, content);
  EXPECT_EQ(LoadConfigFile("/nonexistent/td1.txt", got), ConfigLoad::CannotOpen);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace orv
