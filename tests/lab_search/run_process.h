#pragma once
// Runs a program with arguments, collecting its stdout and stderr separately.
#include <string>
#include <vector>

namespace orv::labtest {

struct ProcessResult {
  int exitCode = -1;  // -1: did not exit normally (signal, time-out, exec failure)
  std::string out;
  std::string err;
};

// Kills the child after timeoutMs. extraEnv entries are "NAME=value".
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs = 120000,
                         const std::vector<std::string>& extraEnv = {});

}  // namespace orv::labtest
