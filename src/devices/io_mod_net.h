#pragma once
// Device module reached over the network: four client-socket slots (the first
// is the command connection), the Modbus/TCP request and closing connections.
#include <cstdint>
#include <string>

#include "comm/client_socket.h"
#include "comm/modbus_frame.h"
#include "inventory/io_mod.h"

namespace orv {

class TIOModNet : public TIOMod {
 public:
  TIOModNet(int32_t nProductID, int32_t nUnitID, int32_t nModuleID, int32_t nNumberChannels,
            int32_t nSupportedChannelType);
  ~TIOModNet() override;

  void Init(TIOView* view, void* parent, TIOObject* owner) override;                 // 0
  void Quit() override;                                                             // 1
  void SetConnectionStr(const std::string& text) override;                          // 4
  int32_t ModbusTransaction(uint32_t type, uint32_t ref, uint16_t count, const uint8_t* data,
                            uint8_t* reply, bool awaitReply, int32_t timeoutMs,
                            bool retry) override;                                   // 13
  void AddIO(TIOObjList* list, void* parent, const std::string& connection,
             const std::string& mac, const std::string& netmask, const std::string& gateway,
             const std::string& lockStatus, const std::string& firmwareVersion,
             const std::string& serverName) override;                               // 14
  void SetOnline(bool online) override;  // 17: false closes the sockets unless DeviceIoHalted

  virtual void Disconnect();                    // 28: closes every open socket slot
  virtual void Reserved3();                     // 29: no callers
  virtual void Reserved4(const std::string&);   // 30: no callers

  // Socket slots; slot 0 is the command socket. Owned by the class that
  // creates them (TIOModRemoteE).
  ClientSocket* pSockets[4] = {nullptr, nullptr, nullptr, nullptr};

 protected:
  uint8_t frame_[kModbusMaxRequest] = {};
};

}  // namespace orv
