#pragma once
// Fixed name tables: product name, model names and descriptions by model
// index, and channel type names by bit number. Built at compile time, so
// they are usable from any static initialiser and never change.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

constexpr int PRODUCT_SCOUTIX = 0;  // index into NAME_POD of the one product

constexpr std::size_t kProductNameCount = 1;
constexpr std::size_t kModelNameCount = 32;
constexpr std::size_t kChannelTypeCount = 8;

// Offset from a model to its wide-temperature ("-T") variant.
constexpr int kWideTempModelOffset = 20;

extern const char* const NAME_POD[kProductNameCount];
extern const char* const NAME_MOD[kModelNameCount];
extern const char* const NAME_MODDESC[kModelNameCount];
extern const char* const NAME_CHTYPE[kChannelTypeCount];

// Model indices 0..11 and 20..31 name real models; 12..19 are holes.
bool IsValidModelIndex(int nModuleID);

// Names of every channel type whose bit is set in `mask`, lowest bit first.
std::vector<std::string> ChannelTypeNames(uint32_t mask);

}  // namespace orv
