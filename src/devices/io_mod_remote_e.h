#pragma once
// Remote Ethernet RTU module: the device command set. Every command logs in
// with the encoded password on a fresh connection and closes it at the end;
// results are integer codes, 0 meaning success.
#include <cstdint>
#include <functional>

#include "devices/io_mod_net.h"

namespace orv {

constexpr int32_t MODULE_CLASS_REMOTE_E = 0x11;
constexpr uint16_t kDevicePort = 502;

// Registers (one-based numbers as passed to ModbusTransaction).
constexpr uint32_t REG_PASSWORD = 0x8134;
constexpr uint32_t REG_LOCATE = 0x80F6;
constexpr uint32_t REG_ADDRESS_MODE = 0x8139;
constexpr uint32_t REG_IP_ADDRESS = 0x8001;
constexpr uint32_t REG_FW_OPEN = 0x8201;
constexpr uint32_t REG_FW_CONSTANT = 0x8202;
constexpr uint32_t REG_FW_LENGTH = 0x820E;
constexpr uint32_t REG_FW_FIXED = 0x8210;
constexpr uint32_t REG_FW_BLOCK = 0x8211;
constexpr uint32_t REG_FW_CRC = 0x8284;
constexpr uint32_t REG_FW_CLOSE = 0x8285;
constexpr uint32_t REG_IMPORT_LENGTH = 0x800C;
constexpr uint32_t REG_IMPORT_BLOCK = 0x800D;
constexpr uint32_t REG_IMPORT_CLOSE = 0x8080;
constexpr uint32_t REG_EXPORT_LENGTH = 0x8081;
constexpr uint32_t REG_EXPORT_BLOCK = 0x8082;
constexpr uint32_t REG_EXPORT_CLOSE = 0x80F5;
constexpr uint32_t DIAG_RESTART_SUBFUNCTION = 1;
constexpr uint16_t DIAG_RESTART_VALUE = 0xFF00;
constexpr uint16_t DIAG_RESET_VALUE = 0x55AA;
constexpr const char* kFirmwareConstant = "TIRHoHo";
constexpr int32_t kTransferBlock = 230;  // bytes per block (115 registers)
constexpr int32_t kCommandTimeoutMs = 5000;
constexpr int32_t kFirmwareCloseTimeoutMs = 60000;

// Result codes.
constexpr int32_t RESULT_OK = 0;
constexpr int32_t RESULT_FW_FAILED = 1;
constexpr int32_t RESULT_RESTART_FAILED = 2;
constexpr int32_t RESULT_RESET_FAILED = 3;
constexpr int32_t RESULT_LOGIN_FAILED = 4;
constexpr int32_t RESULT_STEP_FAILED = 5;     // IP change, import, export length
constexpr int32_t RESULT_EXPORT_FAILED = 6;
constexpr int32_t RESULT_LOCATE_FAILED = 7;
constexpr int32_t RESULT_MODE_BASE = 50;      // IP change refused: 50 + mode

// Number of 230-byte blocks for a transfer of length bytes.
constexpr uint32_t TransferBlocks(uint32_t length) {
  return length / kTransferBlock + (length % kTransferBlock != 0 ? 1 : 0);
}

// Called by UpdateMenu to enable the main window's restart and reset entries.
void SetDeviceMenuHook(std::function<void()> hook);

class TIOModRemoteE : public TIOModNet {
 public:
  TIOModRemoteE(int32_t nUnitID, int32_t nModuleID, int32_t nNumberChannels,
                int32_t nSupportedChannelType);
  ~TIOModRemoteE() override;

  void Init(TIOView* view, void* parent, TIOObject* owner) override;  // creates the command socket
  void Quit() override;                                              // destroys it
  void AddIO(TIOObjList* list, void* parent, const std::string& connection,
             const std::string& mac, const std::string& netmask, const std::string& gateway,
             const std::string& lockStatus, const std::string& firmwareVersion,
             const std::string& serverName) override;  // host = szConnection, port 502
  void UpdateMenu() override;
  int32_t muRestart(const char* password) override;
  int32_t muReset(const char* password) override;
  int32_t muUgdFW(TProgressBar* progressBar, uint16_t crc, uint32_t length,
                  const uint8_t* image, const char* password) override;
  int32_t muUnlockDev(bool useGivenPassword, const char* password) override;
  int32_t muLocateDev(const uint8_t* value, const char* password) override;
  int32_t muImportDev(uint32_t length, const uint8_t* text, const char* password) override;
  int32_t muExportDev(std::FILE* file, const char* password) override;
  int32_t muChangeIP(const uint8_t* address, const char* password) override;
  void EncodePassword(const char* password, uint8_t* block) override;

  virtual void Reserved5(int32_t);  // 31: no callers
  virtual void Reserved6(int32_t);  // 32: no callers

  // Millisecond tick for EncodePassword (monotonic clock by default; tests
  // inject their own).
  uint32_t (*pTickSource)() = nullptr;

 private:
  // Shared command frame: login, then steps while the result is 0, then close.
  // Returns the login outcome: true when the password write succeeded.
  bool Login(const char* password, uint8_t* reply);
  bool WriteBlocks(uint32_t reg, const uint8_t* data, uint32_t length, TProgressBar* progressBar,
                   uint8_t* reply);
  int32_t RestartOrReset(const char* password, uint16_t value, int32_t failCode);
};

}  // namespace orv
