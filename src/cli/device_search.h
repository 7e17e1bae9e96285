#pragma once
// The search the device commands run before they contact any device, as the
// window runs it: both families, on one interface, for a number of rounds.
#include <string>
#include <vector>

#include "discovery/answer_handler.h"

namespace orv::cli {

// Prints progress to stderr. Returns kExitOk with the devices in *found, or
// the exit code of a failed search (the reason printed, prefixed with
// "orvistarctl <command>: ").
int SearchDevices(const std::string& command, const std::string& nic, int cycles, std::vector<IONODE>* found);

}  // namespace orv::cli
