#include "devices/io_mod_net.h"

#include "comm/transaction.h"

namespace orv {

TIOModNet::TIOModNet(int32_t productID, int32_t unitID, int32_t moduleID, int32_t numberChannels,
                     int32_t supportedChannelType)
    : TIOMod(productID, unitID, moduleID, numberChannels, supportedChannelType) {}

TIOModNet::~TIOModNet() = default;

void TIOModNet::Init(TIOView* view, void* parent, TIOObject* owner) {
  TIOMod::Init(view, parent, owner);
}

void TIOModNet::Quit() { TIOMod::Quit(); }

void TIOModNet::SetConnectionStr(const std::string& text) {
  TIOMod::SetConnectionStr(text);
  // The next connection goes to the new address; an open one stays as it is.
  for (ClientSocket* s : pSockets) {
    if (s) s->SetHost(text);
  }
}

int32_t TIOModNet::ModbusTransaction(uint32_t type, uint32_t ref, uint16_t count,
                                     const uint8_t* data, uint8_t* reply, bool awaitReply,
                                     int32_t timeoutMs, bool retry) {
  return ModbusTransact(*this, pSockets[0], frame_, type, ref, count, data, reply, awaitReply,
                        timeoutMs, retry);
}

void TIOModNet::AddIO(TIOObjList* list, void* parent, const std::string& connection,
                      const std::string& mac, const std::string& netmask,
                      const std::string& gateway, const std::string& lockStatus,
                      const std::string& firmwareVersion, const std::string& serverName) {
  TIOMod::AddIO(list, parent, connection, mac, netmask, gateway, lockStatus, firmwareVersion,
                serverName);
}

void TIOModNet::SetOnline(bool online) {
  TIOMod::SetOnline(online);
  if (!online && !DeviceIoHalted.load()) Disconnect();
}

void TIOModNet::Disconnect() {
  // Close() on a socket that is not open only releases its idle worker.
  for (ClientSocket* s : pSockets) {
    if (s) s->Close();
  }
}

void TIOModNet::Reserved3() {}
void TIOModNet::Reserved4(const std::string&) {}

}  // namespace orv
