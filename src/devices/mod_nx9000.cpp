#include "devices/mod_nx9000.h"

namespace orv {

TModNx9000::TModNx9000(int32_t moduleID) : TIOModRemoteE(1, moduleID, 16, 8) {}

TModNx9000::~TModNx9000() = default;

TModuleConsoleView* TModNx9000::ConsoleView() {
  return dynamic_cast<TModuleConsoleView*>(pView.get());
}

void TModNx9000::Init(TIOView* view, void* parent, TIOObject* owner) {
  TIOModRemoteE::Init(view, parent, owner);
  if (TModuleConsoleView* v = ConsoleView()) v->Setup(*this);
}

void TModNx9000::Quit() {
  if (TModuleConsoleView* v = ConsoleView()) v->StopConsole();
  TIOModRemoteE::Quit();
}

void TModNx9000::Show() {
  TIOModRemoteE::Show();
  if (TModuleConsoleView* v = ConsoleView()) v->StartConsole();
}

void TModNx9000::Hide() {
  TIOModRemoteE::Hide();
  if (TModuleConsoleView* v = ConsoleView()) v->StopConsole();
}

void TModNx9000::AddIO(TIOObjList* list, void* parent, const std::string& connection,
                       const std::string& mac, const std::string& netmask,
                       const std::string& gateway, const std::string& lockStatus,
                       const std::string& firmwareVersion, const std::string& serverName) {
  TIOModRemoteE::AddIO(list, parent, connection, mac, netmask, gateway, lockStatus,
                       firmwareVersion, serverName);
  if (TModuleConsoleView* v = ConsoleView()) v->OnAddIO(list);
}

}  // namespace orv
