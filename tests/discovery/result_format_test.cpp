// Table and JSON output of a search result, with hostile server names.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "discovery/result_format.h"

namespace orv {
namespace {

IONODE Node(const std::string& name, int model, const std::string& ip) {
  IONODE n;
  n.nModelIndex = model;
  n.szServerName = name;
  n.szIP = ip;
  n.szMac = "00-0A-1B-2C-3D-4E";
  n.szNetmask = "255.255.255.0";
  n.szGateway = "10.77.0.1";
  n.szRevision = "1.2.1";
  n.szLockMode = model == 4 ? "Lock" : "Unlock";
  return n;
}

TEST(ResultFormat, JsonTextKeepsUtf8AndReadsOtherBytesAsLatin1) {
  EXPECT_EQ(JsonText("plain \"q\"\n"), "plain \"q\"\n");
  EXPECT_EQ(JsonText("Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x98\x80"), "Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x98\x80");
  EXPECT_EQ(JsonText("\xff\xfe"), "\xc3\xbf\xc3\xbe");
  EXPECT_EQ(JsonText("\xc0\x80"), "\xc3\x80\xc2\x80");                // overlong NUL
  EXPECT_EQ(JsonText("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");  // surrogate
  EXPECT_EQ(JsonText("ab\xe2\x82"), "ab\xc3\xa2\xc2\x82");            // cut short at the end
  // Whatever the bytes, the writer accepts the text and control characters are escaped.
  EXPECT_EQ(nlohmann::json(JsonText(std::string("a\0b\x01\xff", 5))).dump(), "\"a\\u0000b\\u0001\xc3\xbf\"");
}

TEST(ResultFormat, JsonArrayParsesWithTheExpectedKeys) {
  std::vector<IONODE> found = {Node("Pump \"A\"\x01\xff", 0, "10.77.0.10"), Node("", 4, "192.168.127.254")};
  const auto j = nlohmann::json::parse(FormatResultJson(found));
  ASSERT_TRUE(j.is_array());
  ASSERT_EQ(j.size(), 2u);
  std::vector<std::string> keys;
  for (auto it = j[0].begin(); it != j[0].end(); ++it) keys.push_back(it.key());
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"firmware", "gateway", "ip", "lock", "mac", "model", "netmask",
                                            "server_name"}));
  EXPECT_EQ(j[0]["server_name"], "Pump \"A\"\x01\xc3\xbf");  // 0xFF read back as U+00FF
  EXPECT_EQ(j[0]["model"], "K7710-GPRS-C");
  EXPECT_EQ(j[1]["model"], "Tramix 4410-5-RJ45-C");
  EXPECT_EQ(j[1]["ip"], "192.168.127.254");
  EXPECT_EQ(j[1]["lock"], "Lock");
  EXPECT_EQ(j[0]["lock"], "Unlock");
  EXPECT_EQ(j[0]["firmware"], "1.2.1");
  EXPECT_TRUE(nlohmann::json::parse(FormatResultJson({})).empty());
}

TEST(ResultFormat, TableIsAlignedAndTerminalSafe) {
  std::vector<IONODE> found = {Node("short", 0, "10.77.0.10"), Node("a much longer server name", 24, "10.77.0.200"),
                               Node("esc\x1b[31m\xff", 20, "10.77.0.9")};
  const std::string table = FormatResultTable(found);
  std::istringstream in(table);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 4u);
  const char* headers[] = {"#", "Server Name", "Model", "IP Address", "MAC Address", "Subnet Mask", "Gateway",
                           "Firmware Ver."};
  for (const char* h : headers) EXPECT_NE(lines[0].find(h), std::string::npos) << h;
  // Every row's IP column starts where the header's does.
  const auto ipCol = lines[0].find("IP Address");
  EXPECT_EQ(lines[1].substr(ipCol, 10), "10.77.0.10");
  EXPECT_EQ(lines[2].substr(ipCol, 11), "10.77.0.200");
  EXPECT_EQ(lines[3].substr(ipCol, 9), "10.77.0.9");
  EXPECT_EQ(lines[2].substr(0, 3), "2  ");
  EXPECT_NE(lines[2].find("Tramix 4410-5-RJ45-C-T"), std::string::npos);
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
  EXPECT_NE(lines[3].find("esc\\x1B[31m\\xFF"), std::string::npos);
  EXPECT_EQ(TerminalSafeText("\xc2\x9b" "a\\"), "\\xC2\\x9Ba\\\\");  // C1 control as UTF-8
  EXPECT_EQ(TerminalSafeText("Z\xc3\xbcrich"), "Z\xc3\xbcrich");
}

}  // namespace
}  // namespace orv
