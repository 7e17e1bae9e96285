#include "inventory/pd_scoutix.h"

#include "common/trace.h"
#include "inventory/name_tables.h"

namespace orv {

TScoutix::TScoutix() : TIOProduct(PRODUCT_SCOUTIX) {}

TScoutix::~TScoutix() {
  if (Initialised()) Quit();
}

void TScoutix::Init(TIOView* view, void* parent, TIOObject* owner) {
  ORV_TRACE("TScoutix::Init");
  TIOProduct::Init(view, parent, owner);
  if (TProductView* v = ProductView()) v->OnInit();
}

void TScoutix::Quit() {
  ORV_TRACE("TScoutix::Quit");
  if (TProductView* v = ProductView()) v->OnQuit();
  TIOProduct::Quit();
}

void TScoutix::Show() {
  TIOObject::Show();
  if (TProductView* v = ProductView()) v->OnShow();
}

void TScoutix::Hide() {
  TIOObject::Hide();
  if (TProductView* v = ProductView()) v->OnHide();
}

TIOMod* TScoutix::AddModule(void* parent, int32_t nModuleID, const std::string& ip,
                            const std::string& mac, const std::string& netmask,
                            const std::string& gateway, const std::string& lockStatus,
                            const std::string& firmwareVersion, const std::string& serverName) {
  ORV_TRACE("TScoutix::AddModule");
  if (!IsValidModelIndex(nModuleID)) return nullptr;
  auto* m = new TModNx9000(nModuleID);
  TIOView* view = nullptr;
  try {
    if (MakeConsoleView) view = MakeConsoleView(*m);
  } catch (...) {
    delete m;
    throw;
  }
  m->Init(view, parent, this);
  m->AddIO(&IOObjList, parent, ip, mac, netmask, gateway, lockStatus, firmwareVersion,
           serverName);
  return m;
}

void TScoutix::AddScanIO(void* parent, TProgressBar* progressBar,
                         const std::vector<IONODE>& records) {
  ORV_TRACE("TScoutix::AddScanIO");
  TIOProduct::AddScanIO(parent, progressBar, records);
  if (TProductView* v = ProductView()) v->OnAddIO(&IOObjList);
}

}  // namespace orv
