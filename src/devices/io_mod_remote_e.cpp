#include "devices/io_mod_remote_e.h"

#include <algorithm>
#include <cstring>

#include "common/trace.h"
#include "devices/password.h"
#include "devices/wait_dialog.h"

namespace orv {
namespace {

std::function<void()>& MenuHook() {
  static std::function<void()> hook;
  return hook;
}

const char* ChoosePassword(const char* password) {
  return (password && *password) ? password : kDefaultPassword;
}

void ShowRestartWait() {
  if (TRestartWait* w = GetRestartWait()) {
    w->ShowModal();
  } else {
    TfmWait wait;
    wait.ShowModal();
  }
}

constexpr int32_t kReplyBuffer = 256;

}  // namespace

void SetDeviceMenuHook(std::function<void()> hook) { MenuHook() = std::move(hook); }

TIOModRemoteE::TIOModRemoteE(int32_t unitID, int32_t moduleID, int32_t numberChannels,
                             int32_t supportedChannelType)
    : TIOModNet(0, unitID, moduleID, numberChannels, supportedChannelType) {
  nModuleClass = MODULE_CLASS_REMOTE_E;
}

TIOModRemoteE::~TIOModRemoteE() {
  // Normally Quit has destroyed the socket already.
  delete pSockets[0];
  pSockets[0] = nullptr;
}

void TIOModRemoteE::Init(TIOView* view, void* parent, TIOObject* owner) {
  TIOModNet::Init(view, parent, owner);
  if (nModuleClass == MODULE_CLASS_REMOTE_E && !pSockets[0]) pSockets[0] = new ClientSocket();
}

void TIOModRemoteE::Quit() {
  if (nModuleClass == MODULE_CLASS_REMOTE_E) {
    delete pSockets[0];
    pSockets[0] = nullptr;
  }
  TIOModNet::Quit();
}

void TIOModRemoteE::AddIO(TIOObjList* list, void* parent, const std::string& connection,
                          const std::string& mac, const std::string& netmask,
                          const std::string& gateway, const std::string& lockStatus,
                          const std::string& firmwareVersion, const std::string& serverName) {
  TIOModNet::AddIO(list, parent, connection, mac, netmask, gateway, lockStatus, firmwareVersion,
                   serverName);
  if (nModuleClass == MODULE_CLASS_REMOTE_E && pSockets[0]) {
    pSockets[0]->SetBlocking(true);
    pSockets[0]->SetHost(szConnection);
    pSockets[0]->SetPort(kDevicePort);
  }
}

void TIOModRemoteE::UpdateMenu() {
  if (nModuleClass == MODULE_CLASS_REMOTE_E && MenuHook()) MenuHook()();
}

void TIOModRemoteE::EncodePassword(const char* password, uint8_t* block) {
  const uint32_t tick = pTickSource ? pTickSource() : MonotonicTickMs();
  EncodePasswordBlock(password, tick, block);
}

bool TIOModRemoteE::Login(const char* password, uint8_t* reply) {
  uint8_t block[kPasswordBlockSize];
  EncodePassword(password, block);
  return ModbusTransaction(16, REG_PASSWORD, 5, block, reply, true, kCommandTimeoutMs, false) >= 1;
}

int32_t TIOModRemoteE::RestartOrReset(const char* password, uint16_t value, int32_t failCode) {
  ORV_TRACE(value == DIAG_RESTART_VALUE ? "TIOModRemoteE::muRestart" : "TIOModRemoteE::muReset");
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = failCode;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else if (ModbusTransaction(8, DIAG_RESTART_SUBFUNCTION, value, nullptr, reply, true, 0,
                                 true) < 1) {
      result = failCode;
    } else {
      ShowRestartWait();
      result = RESULT_OK;
    }
  }
  SetOnline(false);
  return result;
}

int32_t TIOModRemoteE::muRestart(const char* password) {
  return RestartOrReset(password, DIAG_RESTART_VALUE, RESULT_RESTART_FAILED);
}

int32_t TIOModRemoteE::muReset(const char* password) {
  return RestartOrReset(password, DIAG_RESET_VALUE, RESULT_RESET_FAILED);
}

int32_t TIOModRemoteE::muUnlockDev(bool useGivenPassword, const char* password) {
  ORV_TRACE("TIOModRemoteE::muUnlockDev");
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_LOGIN_FAILED;
  {
    const char* chosen = useGivenPassword ? (password ? password : "") : kDefaultPassword;
    if (Login(chosen, reply)) result = RESULT_OK;
  }
  SetOnline(false);
  return result;
}

int32_t TIOModRemoteE::muLocateDev(const uint8_t* value, const char* password) {
  ORV_TRACE("TIOModRemoteE::muLocateDev");
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_LOCATE_FAILED;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else {
      const uint16_t v = value ? static_cast<uint16_t>(value[0] << 8 | value[1]) : 0;
      result = ModbusTransaction(6, REG_LOCATE, v, nullptr, reply, true, kCommandTimeoutMs,
                                 false) < 1
                   ? RESULT_LOCATE_FAILED
                   : RESULT_OK;
    }
  }
  SetOnline(false);
  return result;
}

int32_t TIOModRemoteE::muChangeIP(const uint8_t* address, const char* password) {
  ORV_TRACE("TIOModRemoteE::muChangeIP");
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_STEP_FAILED;
  bool restart = false;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else if (ModbusTransaction(3, REG_ADDRESS_MODE, 1, nullptr, reply, true, kCommandTimeoutMs,
                                 false) < 1) {
      result = RESULT_STEP_FAILED;
    } else if (const uint8_t mode = reply[10]; mode != 0) {
      // Only a fixed address may be replaced; nothing is written.
      result = RESULT_MODE_BASE + mode;
    } else if (!address || ModbusTransaction(16, REG_IP_ADDRESS, 2, address, reply, true,
                                             kCommandTimeoutMs, false) < 1) {
      result = RESULT_STEP_FAILED;
    } else {
      result = RESULT_OK;
      restart = true;
    }
    // The new address takes effect with the restart; its own result does not
    // change the outcome of the change.
    if (restart) muRestart(password);
  }
  SetOnline(false);
  return result;
}

// Writes data in 230-byte blocks, one request each, into the same register; an
// odd last block carries a zero pad byte. Stops at the first failed request.
bool TIOModRemoteE::WriteBlocks(uint32_t reg, const uint8_t* data, uint32_t length,
                                TProgressBar* progressBar, uint8_t* reply) {
  uint8_t block[kTransferBlock] = {};
  uint32_t remaining = length;
  const uint32_t blocks = TransferBlocks(length);
  for (uint32_t i = 0; i < blocks; ++i) {
    const uint32_t n = std::min<uint32_t>(remaining, kTransferBlock);
    std::memcpy(block, data + static_cast<size_t>(kTransferBlock) * i, n);
    if (n % 2 != 0) block[n] = 0;
    if (ModbusTransaction(16, reg, static_cast<uint16_t>((n + 1) / 2), block, reply, true,
                          kCommandTimeoutMs, false) < 1) {
      return false;
    }
    remaining -= n;
    if (progressBar) progressBar->SetPosition(progressBar->Position() + 1);
  }
  return true;
}

int32_t TIOModRemoteE::muUgdFW(TProgressBar* progressBar, uint16_t crc, uint32_t length,
                               const uint8_t* image, const char* password) {
  ORV_TRACE("TIOModRemoteE::muUgdFW");
  if (!image && length > 0) return RESULT_FW_FAILED;
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_FW_FAILED;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else {
      result = RESULT_OK;
      // Opening write: a device that did not take it is not ready for an image,
      // so nothing more is sent and the upgrade fails.
      if (ModbusTransaction(6, REG_FW_OPEN, 0, nullptr, reply, true, kCommandTimeoutMs, false) < 1)
        result = RESULT_FW_FAILED;

      uint8_t constant[14] = {};
      std::memcpy(constant, kFirmwareConstant, 7);
      if (result == RESULT_OK && ModbusTransaction(16, REG_FW_CONSTANT, 7, constant, reply, true,
                                                   kCommandTimeoutMs, false) < 1) {
        result = RESULT_FW_FAILED;
      }
      if (result == RESULT_OK) {
        const uint8_t len[4] = {static_cast<uint8_t>(length & 0xFF),
                                static_cast<uint8_t>((length >> 8) & 0xFF),
                                static_cast<uint8_t>((length >> 16) & 0xFF),
                                static_cast<uint8_t>(length >> 24)};
        if (ModbusTransaction(16, REG_FW_LENGTH, 2, len, reply, true, kCommandTimeoutMs,
                              false) < 1) {
          result = RESULT_FW_FAILED;
        }
      }
      if (result == RESULT_OK) {
        const uint8_t fixed[2] = {0x00, 0x0F};
        if (ModbusTransaction(16, REG_FW_FIXED, 1, fixed, reply, true, kCommandTimeoutMs,
                              false) < 1) {
          result = RESULT_FW_FAILED;
        }
      }
      if (result == RESULT_OK) {
        // mod_fw_data: every block into the same register, in image order.
        if (!WriteBlocks(REG_FW_BLOCK, image, length, progressBar, reply)) {
          result = RESULT_FW_FAILED;
        }
      }
      if (result == RESULT_OK &&
          ModbusTransaction(6, REG_FW_CRC, crc, nullptr, reply, true, kCommandTimeoutMs, false) <
              1) {
        result = RESULT_FW_FAILED;
      }
      if (result == RESULT_OK) {
        if (ModbusTransaction(6, REG_FW_CLOSE, 0, nullptr, reply, true, kFirmwareCloseTimeoutMs,
                              false) < 1) {
          result = RESULT_FW_FAILED;
        } else {
          muRestart(password);  // the device takes the image with the restart
        }
      }
    }
  }
  SetOnline(false);
  return result;
}

int32_t TIOModRemoteE::muImportDev(uint32_t length, const uint8_t* text, const char* password) {
  ORV_TRACE("TIOModRemoteE::muImportDev");
  if (!text && length > 0) return RESULT_STEP_FAILED;
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_STEP_FAILED;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else {
      result = RESULT_OK;
      // The length register carries the low byte first on the wire.
      const uint16_t lengthValue =
          static_cast<uint16_t>(((length & 0xFF) << 8) | ((length >> 8) & 0xFF));
      if (ModbusTransaction(6, REG_IMPORT_LENGTH, lengthValue, nullptr, reply, true,
                            kCommandTimeoutMs, false) < 1) {
        result = RESULT_STEP_FAILED;
      }
      if (result == RESULT_OK && !WriteBlocks(REG_IMPORT_BLOCK, text, length, nullptr, reply)) {
        result = RESULT_STEP_FAILED;
      }
      if (result == RESULT_OK) {
        if (ModbusTransaction(6, REG_IMPORT_CLOSE, 0, nullptr, reply, true, kCommandTimeoutMs,
                              false) < 1) {
          result = RESULT_STEP_FAILED;
        } else {
          muRestart(password);
        }
      }
    }
  }
  SetOnline(false);
  return result;
}

int32_t TIOModRemoteE::muExportDev(std::FILE* file, const char* password) {
  ORV_TRACE("TIOModRemoteE::muExportDev");
  uint8_t reply[kReplyBuffer] = {};
  int32_t result = RESULT_EXPORT_FAILED;
  {
    if (!Login(ChoosePassword(password), reply)) {
      result = RESULT_LOGIN_FAILED;
    } else if (ModbusTransaction(3, REG_EXPORT_LENGTH, 1, nullptr, reply, true, kCommandTimeoutMs,
                                 false) < 1) {
      result = RESULT_STEP_FAILED;
    } else {
      result = RESULT_OK;
      // The length register carries the low byte first.
      const uint32_t total = static_cast<uint32_t>(reply[10]) * 256 + reply[9];
      uint32_t remaining = total;
      const uint32_t blocks = TransferBlocks(total);
      for (uint32_t i = 0; i < blocks; ++i) {
        const uint32_t n = std::min<uint32_t>(remaining, kTransferBlock);
        if (ModbusTransaction(3, REG_EXPORT_BLOCK, static_cast<uint16_t>((n + 1) / 2), nullptr,
                              reply, true, kCommandTimeoutMs, false) < 1) {
          result = RESULT_EXPORT_FAILED;
          break;
        }
        if (file) std::fwrite(reply + 9, 1, n, file);  // outcome not examined
        remaining -= n;
          }
      if (result == RESULT_OK && ModbusTransaction(6, REG_EXPORT_CLOSE, 0, nullptr, reply, true,
                                                   kCommandTimeoutMs, false) < 1) {
        result = RESULT_EXPORT_FAILED;
      }
    }
  }
  SetOnline(false);
  return result;
}

void TIOModRemoteE::Reserved5(int32_t) {}
void TIOModRemoteE::Reserved6(int32_t) {}

}  // namespace orv
