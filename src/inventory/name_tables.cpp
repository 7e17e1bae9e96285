#include "inventory/name_tables.h"

namespace orv {

const char* const NAME_POD[kProductNameCount] = {"Orvistar"};

const char* const NAME_MOD[kModelNameCount] = {
    "K7710-GPRS-C",
    "K7710-HSDPA-C",
    "K7710-GPRS-IEC",
    "K7710-HSDPA-IEC",
    "Tramix 4410-5-RJ45-C",
    "Tramix 4410-5-M12-C",
    "Tramix 4410-9-RJ45-C",
    "Tramix 4410-9-M12-C",
    "Tramix 4410-5-RJ45-IEC",
    "Tramix 4410-5-M12-IEC",
    "Tramix 4410-9-RJ45-IEC",
    "Tramix 4410-9-M12-IEC",
    "", "", "", "", "", "", "", "",
    "K7710-GPRS-C-T",
    "K7710-HSDPA-C-T",
    "K7710-GPRS-IEC-T",
    "K7710-HSDPA-IEC-T",
    "Tramix 4410-5-RJ45-C-T",
    "Tramix 4410-5-M12-C-T",
    "Tramix 4410-9-RJ45-C-T",
    "Tramix 4410-9-M12-C-T",
    "Tramix 4410-5-RJ45-IEC-T",
    "Tramix 4410-5-M12-IEC-T",
    "Tramix 4410-9-RJ45-IEC-T",
    "Tramix 4410-9-M12-IEC-T",
};

const char* const NAME_MODDESC[kModelNameCount] = {
    "PGM(4AI + 8DIO + 2RELAY)",
    "4AI + 8DIO + 2RELAY",
    "4AI + 8DIO + 2RELAY",
    "4AI + 8DIO + 2RELAY",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "4AI + 8DIO + 2RELAY",
    "4AI + 8DIO + 2RELAY",
    "4AI + 8DIO + 2RELAY",
    "4AI + 8DIO + 2RELAY",
    "", "", "", "", "", "", "", "",
};

const char* const NAME_CHTYPE[kChannelTypeCount] = {"DI", "DO", "RELAY", "AI",
                                                     "AO", "RTD", "TC", "COUNTER"};

bool IsValidModelIndex(int nModuleID) {
  return (nModuleID >= 0 && nModuleID <= 11) || (nModuleID >= 20 && nModuleID <= 31);
}

std::vector<std::string> ChannelTypeNames(uint32_t mask) {
  std::vector<std::string> names;
  for (std::size_t bit = 0; bit < kChannelTypeCount; ++bit) {
    if (mask & (1u << bit)) names.emplace_back(NAME_CHTYPE[bit]);
  }
  return names;
}

}  // namespace orv
