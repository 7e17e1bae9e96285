#pragma once
// A throw-away lab for one test: unique name, own log directory, torn down in
// the destructor whatever happened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_process.h"

namespace orv::labtest {

std::string SrcRoot();
std::string BinDir();
// Empty when lab tests can run here; else why not.
std::string LabUnavailableReason();

class Lab {
 public:
  explicit Lab(std::string fleetPath);
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  // Brings the lab up; on failure returns false with the script's output in *why.
  bool Up(std::string* why);
  ProcessResult Exec(const std::vector<std::string>& cmd, int timeoutMs = 120000);
  // orvistarctl search --nic 10.77.0.1 <args> in the workstation namespace,
  // with a private settings file.
  ProcessResult Search(const std::vector<std::string>& args);
  // Every search request a device received, in order (from its request log).
  std::vector<std::vector<uint8_t>> Requests(const std::string& mac) const;
  std::string LogText(const std::string& mac) const;

  const std::string& name() const { return name_; }
  const std::string& logDir() const { return logDir_; }
  std::string LabScript() const { return SrcRoot() + "/tools/lab/lab"; }

 private:
  std::string name_;
  std::string fleet_;
  std::string tmpDir_;
  std::string logDir_;
  bool up_ = false;
};

}  // namespace orv::labtest

// Skips (or, under CI, fails) a test that needs root and namespaces.
#define ORV_REQUIRE_LAB()                                                       \
  do {                                                                          \
    const std::string why_ = ::orv::labtest::LabUnavailableReason();            \
    if (!why_.empty()) {                                                        \
      if (std::getenv("CI")) FAIL() << "lab test cannot run under CI: " << why_; \
      GTEST_SKIP() << "lab test skipped: " << why_;                             \
    }                                                                           \
  } while (0)
