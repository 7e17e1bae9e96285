#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/settings.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orv-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/cfg/orvistar/system.reg";
    setenv("ORVISTAR_SETTINGS", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVISTAR_SETTINGS");
    fs::remove_all(dir_);
  }
  std::string FileText() const {
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteText(const std::string& text) const {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << text;
  }
  std::string dir_, path_;
};

TEST_F(SettingsTest, MissingFileGivesEveryDefaultAndCreatesNothing) {
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000), 5000);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_startIP", "192.168.1.1"), "192.168.1.1");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", 3), 3);
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(szRegKeySystem, "SOFTWARE\\VORN\\Orvistar\\System");
}

TEST_F(SettingsTest, WriteCreatesTheRegedit4LayoutAndReadsBack) {
  WriteRegString(szRegKeySystem, "NIC_IP", "10.77.0.1");
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 10);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", -1);
  EXPECT_EQ(FileText(),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Orvistar\\System]\n"
            "\"NIC_IP\"=\"10.77.0.1\"\n"
            "\"Search_Timeout\"=dword:0000000a\n"
            "\"IPOfRange_choice\"=dword:ffffffff\n");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "10.77.0.1");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", 3), 10);
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "IPOfRange_choice", 0), -1);
  // Rewriting replaces the value in place instead of adding a second line.
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 7);
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", 3), 7);
  EXPECT_EQ(FileText().find("dword:0000000a"), std::string::npos);
}

TEST_F(SettingsTest, StringsWithQuotesBackslashesAndControlCharactersRoundTrip) {
  const std::string tricky = "a\\b\"c\" d";
  WriteRegString(szRegKeySystem, "IPOfRange_startIP", tricky);
  EXPECT_NE(FileText().find("\"IPOfRange_startIP\"=\"a\\\\b\\\"c\\\" d\""), std::string::npos);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_startIP", ""), tricky);
  // A line break cannot stand between quotes; it must not break the file.
  const std::string multi = "1.2.3.4\n[HKEY_LOCAL_MACHINE\\X]\r\n\"Y\"=dword:1";
  WriteRegString(szRegKeySystem, "IPOfRange_endIP", multi);
  WriteRegInteger(szRegKeySystem, "K7710", 0);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_endIP", ""), multi);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_startIP", ""), tricky);
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "K7710", 1), 0);
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Y", 5), 5);
}

TEST_F(SettingsTest, TypeMismatchRaisesTheErrorNamingTheValue) {
  WriteRegInteger(szRegKeySystem, "NIC_IP", 3);
  WriteRegString(szRegKeySystem, "Search_Timeout", "3");
  try {
    ReadRegString(szRegKeySystem, "NIC_IP", "");
    FAIL() << "string read of a DWORD did not raise";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'NIC_IP'");
  }
  try {
    ReadRegInteger(szRegKeySystem, "Search_Timeout", 3);
    FAIL() << "DWORD read of a string did not raise";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Search_Timeout'");
  }
}

TEST_F(SettingsTest, AHugeStoredSearchLengthIsCappedWithAWarningAndKept) {
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 0x7fffffff);
  std::string warning;
  EXPECT_EQ(StoredSearchRounds(&warning), kMaxSearchRounds);
  EXPECT_NE(warning.find("2147483647"), std::string::npos) << warning;
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", 3), 0x7fffffff);
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 5);
  warning.clear();
  EXPECT_EQ(StoredSearchRounds(&warning), 5);
  EXPECT_EQ(warning, "");
}

TEST_F(SettingsTest, HandEditedFileIsReadAndKeptAsWritten) {
  WriteText(
      "REGEDIT4\n\n"
      "; edited by the administrator\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Other]\n"
      "\"Socket Timeout\"=dword:00000001\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Orvistar\\System]\n"
      "\"socket timeout\"=dword:00002710\n"
      "\"Blob\"=hex:01,02,\\\n  03\n");
  // Value names compare without case, and another key is not this one.
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000), 10000);
  EXPECT_THROW(ReadRegInteger(szRegKeySystem, "Blob", 0), RegistryError);
  EXPECT_THROW(ReadRegString(szRegKeySystem, "Blob", ""), RegistryError);
  WriteRegString(szRegKeySystem, "NIC_IP", "10.0.0.2");
  const std::string text = FileText();
  EXPECT_NE(text.find("; edited by the administrator\n"), std::string::npos);
  EXPECT_NE(text.find("\"Blob\"=hex:01,02,\\\n  03\n"), std::string::npos);
  // The new value goes into this key's section, not the other one.
  EXPECT_LT(text.find("Orvistar\\System]"), text.find("\"NIC_IP\""));
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000), 10000);
}

TEST_F(SettingsTest, CorruptFileReadsAsDefaultsAndIsKeptAsideOnWrite) {
  const std::string garbage = "this is not\na settings file\n\"NIC_IP\"=\"1.2.3.4\"\n";
  WriteText(garbage);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "dflt"), "dflt");
  EXPECT_EQ(FileText(), garbage) << "a read must never touch the file";
  WriteRegString(szRegKeySystem, "NIC_IP", "10.0.0.9");
  std::ifstream bad(path_ + ".bad");
  std::stringstream ss;
  ss << bad.rdbuf();
  EXPECT_EQ(ss.str(), garbage);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "10.0.0.9");

  // Half a value (a crash of some other editor) is just as unparsable.
  WriteText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Orvistar\\System]\n\"K7710\"=dword:0000");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "K7710", 1), 0);  // short hex is still a DWORD
  WriteText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Orvistar\\System]\n\"K7710\"=dwo");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "K7710", 1), 1);
  WriteRegInteger(szRegKeySystem, "K7710", 0);
  EXPECT_TRUE(fs::exists(path_ + ".bad.1")) << "an earlier kept copy must not be overwritten";
}

TEST_F(SettingsTest, ConcurrentWritersFromSeveralProcessesKeepEveryValue) {
  WriteRegString(szRegKeySystem, "NIC_IP", "start");
  constexpr int kProcs = 6, kRounds = 40;
  std::vector<pid_t> pids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int r = 0; r < kRounds; ++r) {
        WriteRegInteger(szRegKeySystem, "Value" + std::to_string(p), r);
      }
      _exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcs; ++p) {
    EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Value" + std::to_string(p), -1), kRounds - 1) << p;
  }
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "start");
  // No temporary file is left behind.
  for (const auto& e : fs::directory_iterator(fs::path(path_).parent_path())) {
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
}

TEST_F(SettingsTest, UncreatableKeyDropsWritesSilentlyAndUnwritableValueRaises) {
  // A plain file where the directory should be: the key cannot be created.
  fs::create_directories(fs::path(path_).parent_path().parent_path());
  std::ofstream(fs::path(path_).parent_path().string()) << "x";
  EXPECT_NO_THROW(WriteRegInteger(szRegKeySystem, "K7710", 0));
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "K7710", 1), 1);
  fs::remove(fs::path(path_).parent_path());

  // The settings file itself is a directory: the key opens, the value cannot be set.
  fs::create_directories(path_);
  try {
    WriteRegString(szRegKeySystem, "NIC_IP", "1.2.3.4");
    FAIL() << "no error";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'NIC_IP'");
  }
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST(SettingsPath, FollowsXdgConfigHomeThenHome) {
  unsetenv("ORVISTAR_SETTINGS");
  const char* oldXdg = getenv("XDG_CONFIG_HOME");
  std::string savedXdg = oldXdg ? oldXdg : "";
  setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(SettingsFilePath(), "/x/cfg/orvistar/system.reg");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(SettingsFilePath(), "/home/op/.config/orvistar/system.reg");
  if (oldXdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

}  // namespace
