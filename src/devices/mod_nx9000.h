#pragma once
// The RTU module the inventory creates for every discovered device; it ties
// the module to its console view.
#include <cstdint>

#include "devices/io_mod_remote_e.h"

namespace orv {

// What the module asks of its console view; the console panel implements it.
class TModuleConsoleView : public TIOView {
 public:
  virtual void Setup(TIOMod& module) {}        // model caption, banner, status text
  virtual void StartConsole() {}
  virtual void StopConsole() {}
  virtual void OnAddIO(TIOObjList* list) {}
};

class TModNx9000 : public TIOModRemoteE {
 public:
  explicit TModNx9000(int32_t nModuleID);  // unit 1, 16 channels, channel type 8
  ~TModNx9000() override;

  void Init(TIOView* view, void* parent, TIOObject* owner) override;
  void Quit() override;  // stops the console client first
  void Show() override;  // then starts the console client
  void Hide() override;  // then stops it
  void AddIO(TIOObjList* list, void* parent, const std::string& connection,
             const std::string& mac, const std::string& netmask, const std::string& gateway,
             const std::string& lockStatus, const std::string& firmwareVersion,
             const std::string& serverName) override;

 private:
  TModuleConsoleView* ConsoleView();
};

}  // namespace orv
