#pragma once
// Base class of every device module: the device's identity and network data as
// texts, and the table of operations through which the rest of the program
// asks a device to do things. The base stores data; it does not talk to
// devices (the network classes in devices/ do).
#include <cstdint>
#include <cstdio>
#include <string>

#include "inventory/io_object.h"

namespace orv {

// A progress bar a long device operation advances (firmware transfer). The
// window passes its bar, the command line a progress printer, tests a recorder.
class TProgressBar {
 public:
  virtual ~TProgressBar() = default;
  virtual int32_t Position() const = 0;
  virtual void SetPosition(int32_t position) = 0;
  virtual int32_t Max() const { return 0; }
  virtual void SetMax(int32_t max) {}
};

class TIOMod : public TIOObject {
 public:
  // name = NAME_MOD[nModuleID]; the caller passes a model index 0..31.
  TIOMod(int32_t nProductID, int32_t nUnitID, int32_t nModuleID, int32_t nNumberChannels,
         int32_t nSupportedChannelType);
  ~TIOMod() override;

  // Slots 0 to 3 (Init, Quit and Hide as TIOObject).
  void Show() override;  // also resets nRefreshCount

  // Slots 4 to 11.
  virtual void SetConnectionStr(const std::string& text);
  virtual void SetMacAddress(const std::string& text);
  virtual void SetSubnetMask(const std::string& text);
  virtual void SetGateway(const std::string& text);
  virtual void SetLockStatus(const std::string& text);
  virtual void SetFirmwareVersion(const std::string& text);
  virtual void SetServerName(const std::string& text);
  virtual void SetPassword(const std::string& text);
  // Slot 12: kept so that the later slots keep their order.
  virtual void Reserved1();
  // Slot 13: one Modbus/TCP request. Result -1 failure, 0 sent without a
  // reply, otherwise the reply length. The base returns 0 and sends nothing.
  virtual int32_t ModbusTransaction(uint32_t type, uint32_t ref, uint16_t count,
                                    const uint8_t* data, uint8_t* reply, bool awaitReply,
                                    int32_t timeoutMs, bool retry);
  // Slot 14: stores the device data and appends the module to list.
  virtual void AddIO(TIOObjList* list, void* parent, const std::string& connection,
                     const std::string& mac, const std::string& netmask,
                     const std::string& gateway, const std::string& lockStatus,
                     const std::string& firmwareVersion, const std::string& serverName);
  // Slot 15: the module's node in the inventory tree (treeView: TIOTree*,
  // parentNode: TIOTreeNode*); returns the node or null.
  virtual void* AddTreeNode(int32_t sortMode, void* treeView, void* parentNode,
                            const std::string& groupText);
  // Slot 16: kept for the slot order.
  virtual void Reserved2();
  // Slot 17.
  virtual void SetOnline(bool online);
  // Slot 18.
  virtual void UpdateMenu();
  // Slots 19 to 26: the device commands; the base returns 0 and does nothing.
  // password: zero-terminated; empty means the device's default password.
  virtual int32_t muRestart(const char* password);
  virtual int32_t muReset(const char* password);
  virtual int32_t muUgdFW(TProgressBar* progressBar, uint16_t crc, uint32_t length,
                          const uint8_t* image, const char* password);
  virtual int32_t muUnlockDev(bool useGivenPassword, const char* password);
  virtual int32_t muLocateDev(const uint8_t* value, const char* password);  // 2 bytes
  virtual int32_t muImportDev(uint32_t length, const uint8_t* text, const char* password);
  // Writes the device's configuration text to file from its current position.
  virtual int32_t muExportDev(std::FILE* file, const char* password);
  virtual int32_t muChangeIP(const uint8_t* address, const char* password);  // 4 bytes
  // Slot 27: fills the 10-byte password block; the base leaves it alone.
  virtual void EncodePassword(const char* password, uint8_t* block);

  int32_t nProductID;
  int32_t nModuleID;
  int32_t nUnitID;
  int32_t nNumberChannels;
  int32_t nSupportedChannelType;
  std::string szConnection;
  std::string szLocation;
  bool bOnline = true;
  int32_t nRefreshCount = 0;
  int32_t nModuleClass = 0;
  void* pTreeNode = nullptr;
  std::string szMacAddress;
  std::string szSubnetMask;
  std::string szGateway;
  std::string szLockStatus;
  std::string szFirmwareVersion;
  std::string szServerName;
  std::string szPassword;
  TIOObjList* pOwnerList = nullptr;
};

}  // namespace orv
