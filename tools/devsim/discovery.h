#pragma once
// The device's half of the search exchange: judging a request and building
// the 116-byte answer. Pure functions, so they can be tested without sockets.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device.h"

namespace orv::devsim {

constexpr size_t kAnswerSize = 116;
using Answer = std::array<uint8_t, kAnswerSize>;

enum class RequestVerdict {
  kMalformed,  // not a well-formed search request: ignore it
  kListed,     // a search request that already carries this device
  kNotListed,  // a search request the device should answer
};

// Reads only within [data, data + len).
RequestVerdict JudgeRequest(const uint8_t* data, size_t len, const Device& dev);

// The answer as the device would send it now (wrong-APID fault applied).
Answer BuildAnswer(const Device& dev);

// The 115- and 117-byte datagrams of the malformed-answer fault. They carry a
// different MAC and server name, so a reader that wrongly accepts them lists a
// device that does not exist.
std::vector<uint8_t> BuildMalformed(const Device& dev, size_t size);

}  // namespace orv::devsim
