#pragma once
// The search-result product: holds the devices found by the last search,
// creates one RTU module with its console view per discovered device, and
// feeds the device list view.
#include <functional>

#include "devices/mod_nx9000.h"
#include "inventory/io_product.h"

namespace orv {

// What the product asks of its view (the device list view implements it).
class TProductView : public TIOView {
 public:
  virtual void OnInit() {}
  virtual void OnQuit() {}
  virtual void OnShow() {}
  virtual void OnHide() {}
  // Called once per AddScanIO, after the name lists were rebuilt.
  virtual void OnAddIO(TIOObjList* list) {}
};

class TScoutix : public TIOProduct {
 public:
  // Makes the console view of a new module; owned by the module afterwards.
  // The window installs one; without it modules have no view.
  using ConsoleViewFactory = std::function<TIOView*(TModNx9000& module)>;

  TScoutix();
  ~TScoutix() override;

  void Init(TIOView* view, void* parent, TIOObject* owner) override;
  void Quit() override;
  void Show() override;
  void Hide() override;
  TIOMod* AddModule(void* parent, int32_t nModuleID, const std::string& ip,
                    const std::string& mac, const std::string& netmask,
                    const std::string& gateway, const std::string& lockStatus,
                    const std::string& firmwareVersion, const std::string& serverName) override;
  void AddScanIO(void* parent, TProgressBar* progressBar,
                 const std::vector<IONODE>& records) override;

  ConsoleViewFactory MakeConsoleView;

 private:
  TProductView* ProductView() { return dynamic_cast<TProductView*>(pView.get()); }
};

}  // namespace orv
