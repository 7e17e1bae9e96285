#include "inventory/io_mod.h"

#include "inventory/io_tree.h"
#include "inventory/name_tables.h"

namespace orv {
namespace {
std::string ModelName(int32_t nModuleID) {
  if (nModuleID < 0 || nModuleID >= static_cast<int32_t>(kModelNameCount)) return {};
  return NAME_MOD[nModuleID];
}
}  // namespace

TIOMod::TIOMod(int32_t productID, int32_t unitID, int32_t moduleID, int32_t numberChannels,
               int32_t supportedChannelType)
    : TIOObject(IOTYPE_MODULE, ModelName(moduleID)),
      nProductID(productID),
      nModuleID(moduleID),
      nUnitID(unitID),
      nNumberChannels(numberChannels),
      nSupportedChannelType(supportedChannelType) {}

TIOMod::~TIOMod() = default;

void TIOMod::Show() {
  TIOObject::Show();
  nRefreshCount = 0;
}

void TIOMod::SetConnectionStr(const std::string& text) { szConnection = text; }
void TIOMod::SetMacAddress(const std::string& text) { szMacAddress = text; }
void TIOMod::SetSubnetMask(const std::string& text) { szSubnetMask = text; }
void TIOMod::SetGateway(const std::string& text) { szGateway = text; }
void TIOMod::SetLockStatus(const std::string& text) { szLockStatus = text; }
void TIOMod::SetFirmwareVersion(const std::string& text) { szFirmwareVersion = text; }
void TIOMod::SetServerName(const std::string& text) { szServerName = text; }
void TIOMod::SetPassword(const std::string& text) { szPassword = text; }
void TIOMod::Reserved1() {}

int32_t TIOMod::ModbusTransaction(uint32_t, uint32_t, uint16_t, const uint8_t*, uint8_t*, bool,
                                  int32_t, bool) {
  return 0;
}

void TIOMod::AddIO(TIOObjList* list, void* parent, const std::string& connection,
                   const std::string& mac, const std::string& netmask, const std::string& gateway,
                   const std::string& lockStatus, const std::string& firmwareVersion,
                   const std::string& serverName) {
  szConnection = connection;
  szLocation = "Taiwan";
  szMacAddress = mac;
  szSubnetMask = netmask;
  szGateway = gateway;
  szLockStatus = lockStatus;
  szFirmwareVersion = firmwareVersion;
  szServerName = serverName;
  szPassword.clear();
  if (list) list->push_back(this);
  pOwnerList = list;
}

// treeView is a TIOTree, parentNode one of its nodes (inventory/io_tree.h).
void* TIOMod::AddTreeNode(int32_t sortMode, void* treeView, void* parentNode,
                          const std::string& groupText) {
  return AddModuleTreeNode(*this, sortMode, static_cast<TIOTree*>(treeView),
                           static_cast<TIOTreeNode*>(parentNode), groupText);
}
void TIOMod::Reserved2() {}
void TIOMod::SetOnline(bool) {}
void TIOMod::UpdateMenu() {}
int32_t TIOMod::muRestart(const char*) { return 0; }
int32_t TIOMod::muReset(const char*) { return 0; }
int32_t TIOMod::muUgdFW(TProgressBar*, uint16_t, uint32_t, const uint8_t*, const char*) {
  return 0;
}
int32_t TIOMod::muUnlockDev(bool, const char*) { return 0; }
int32_t TIOMod::muLocateDev(const uint8_t*, const char*) { return 0; }
int32_t TIOMod::muImportDev(uint32_t, const uint8_t*, const char*) { return 0; }
int32_t TIOMod::muExportDev(std::FILE*, const char*) { return 0; }
int32_t TIOMod::muChangeIP(const uint8_t*, const char*) { return 0; }
void TIOMod::EncodePassword(const char*, uint8_t*) {}

}  // namespace orv
