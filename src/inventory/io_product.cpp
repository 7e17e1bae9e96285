#include "inventory/io_product.h"

#include <algorithm>
#include <cstdio>

#include "common/trace.h"
#include "host/routes.h"
#include "inventory/name_tables.h"

namespace orv {

namespace {
unsigned char Fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

std::string ProductName(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(kProductNameCount)) return {};
  return NAME_POD[type];
}

std::string ModelNameOf(int32_t id) {
  if (id < 0 || id >= static_cast<int32_t>(kModelNameCount)) return {};
  return NAME_MOD[id];
}

bool IsModuleClassKept(int32_t cls) { return cls == 0x21 || cls == 0x41 || cls == 0x51; }
}  // namespace

int CompareTextNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void TNameList::Add(const std::string& text) {
  auto it = std::lower_bound(items_.begin(), items_.end(), text,
                             [](const std::string& x, const std::string& y) {
                               return CompareTextNoCase(x, y) < 0;
                             });
  if (it != items_.end() && CompareTextNoCase(*it, text) == 0) return;
  items_.insert(it, text);
}

TIOProduct::TIOProduct(int32_t type)
    : TIOObject(IOTYPE_PRODUCT, ProductName(type)), nProductType(type) {}

TIOProduct::~TIOProduct() {
  // A product destroyed without Quit still owns its modules.
  if (bInitialised) Quit();
}

void TIOProduct::Init(TIOView* view, void* parent, TIOObject* owner) {
  ORV_TRACE("TIOProduct::Init");
  TIOObject::Init(view, parent, owner);
  IOObjList.clear();
  for (TNameList* l : {&LocationNameList, &ConnectionNameList, &ModuleNameList,
                       &MacAddressNameList, &SubnetMaskNameList, &GatewayNameList,
                       &LockStatusNameList, &ServerNameList})
    l->Clear();
  bInitialised = true;
}

void TIOProduct::Quit() {
  ORV_TRACE("TIOProduct::Quit");
  TIOObject::Quit();
  ClearIOObjList();
  for (TNameList* l : {&LocationNameList, &ConnectionNameList, &ModuleNameList,
                       &MacAddressNameList, &SubnetMaskNameList, &GatewayNameList,
                       &LockStatusNameList, &ServerNameList})
    l->Clear();
  bInitialised = false;
}

TIOMod* TIOProduct::AddModule(void*, int32_t, const std::string&, const std::string&,
                              const std::string&, const std::string&, const std::string&,
                              const std::string&, const std::string&) {
  return nullptr;
}

void TIOProduct::AddScanIO(void* parent, TProgressBar* progressBar,
                           const std::vector<IONODE>& records) {
  ORV_TRACE("TIOProduct::AddScanIO");
  const std::size_t count = records.size();
  for (std::size_t i = 0; i < count; ++i) {
    const IONODE& r = records[i];
    if (OnStatusText) {
      char buf[256];
      std::snprintf(buf, sizeof buf, "Adding I/O server: %s [%zu/%zu]",
                    ModelNameOf(r.nModelIndex).c_str(), i + 1, count);
      OnStatusText(buf);
    }
    if (r.nKind == 1) {
      TIOMod* m = AddModule(parent, r.nModelIndex, r.szIP, r.szMac, r.szNetmask, r.szGateway,
                            r.szLockMode, r.szRevision, r.szServerName);
      if (m && progressBar) progressBar->SetPosition(progressBar->Position() + 1);
    }
    if (OnRepaint) OnRepaint(parent);
  }
  BuildIONameList();
}

int32_t TIOProduct::DelIO(TIOObject* module) {
  ORV_TRACE("TIOProduct::DelIO");
  int32_t n = DelModule(module);
  if (n > 0) BuildIONameList();
  return n;
}

TIOMod* TIOProduct::InsIO(void*, TIOObject*, int32_t, int32_t, const std::string&) {
  return nullptr;
}

void* TIOProduct::ShowIOTree(int32_t sortMode, void* treeView, void* parentNode) {
  ORV_TRACE("TIOProduct::ShowIOTree");
  auto* tree = static_cast<TIOTree*>(treeView);
  if (!tree) return nullptr;
  TIOTreeNode* product = tree->AddChild(static_cast<TIOTreeNode*>(parentNode), szIOObjName, this);
  product->SetIcon(ICON_PRODUCT);

  auto eachModule = [&](bool ownedOnly, const std::function<void(TIOMod*)>& fn) {
    // Copy: a module's tree code never changes the list, but stay safe.
    TIOObjList list = IOObjList;
    for (TIOObject* o : list) {
      if (!o || o->nIOType != IOTYPE_MODULE) continue;
      if (ownedOnly && o->pOwner != this) continue;
      fn(static_cast<TIOMod*>(o));
    }
  };
  if (sortMode == 1) {
    for (const std::string& c : ConnectionNameList) {
      TIOTreeNode* g = tree->AddChild(product, c);
      g->SetIcon(TextIcon(c));
      eachModule(true, [&](TIOMod* m) { m->AddTreeNode(1, tree, g, c); });
    }
  } else if (sortMode == 2) {
    for (const std::string& l : LocationNameList) {
      TIOTreeNode* g = tree->AddChild(product, l);
      eachModule(true, [&](TIOMod* m) { m->AddTreeNode(2, tree, g, l); });
    }
  } else if (sortMode == 4) {
    for (const std::string& n : ModuleNameList) {
      TIOTreeNode* g = tree->AddChild(product, n);
      eachModule(false, [&](TIOMod* m) { m->AddTreeNode(4, tree, g, n); });
    }
  }
  return product;
}

void TIOProduct::ClearIOObjList() {
  ORV_TRACE("TIOProduct::ClearIOObjList");
  for (TIOObject*& o : IOObjList) {
    if (o && o->nIOType == IOTYPE_MODULE &&
        !IsModuleClassKept(static_cast<TIOMod*>(o)->nModuleClass)) {
      o->Quit();
      delete o;
      o = nullptr;
    }
  }
  IOObjList.clear();
  RemoveAllDeviceRoutes();
}

void TIOProduct::HideAll() {
  for (TIOObject* o : IOObjList)
    if (o) o->Hide();
}

void TIOProduct::DestroyEntry(std::size_t index) {
  TIOObject* o = IOObjList[index];
  IOObjList.erase(IOObjList.begin() + static_cast<std::ptrdiff_t>(index));
  o->Quit();
  delete o;
}

int32_t TIOProduct::DelModule(TIOObject* module) {
  ORV_TRACE("TIOProduct::DelModule");
  if (!module) return 0;
  auto self = std::find_if(IOObjList.begin(), IOObjList.end(), [&](TIOObject* o) {
    return o == module && o->nIOType == IOTYPE_MODULE;
  });
  if (self == IOObjList.end()) return 0;
  int32_t count = 0;
  for (bool found = true; found;) {
    found = false;
    for (std::size_t i = 0; i < IOObjList.size(); ++i) {
      if (IOObjList[i] && IOObjList[i] != module && IOObjList[i]->pOwner == module) {
        DestroyEntry(i);
        ++count;
        found = true;
        break;
      }
    }
  }
  for (std::size_t i = 0; i < IOObjList.size(); ++i) {
    if (IOObjList[i] == module) {
      DestroyEntry(i);
      ++count;
      break;
    }
  }
  return count;
}

void TIOProduct::BuildList(TNameList& list, const std::string TIOMod::*field) {
  list.Clear();
  for (TIOObject* o : IOObjList)
    if (o && o->nIOType == IOTYPE_MODULE) list.Add(static_cast<TIOMod*>(o)->*field);
}

void TIOProduct::BuildIONameList() {
  BuildLocationNameList();
  BuildConnectionNameList();
  BuildModuleNameList();
  BuildMacAddressNameList();
  BuildSubnetMaskNameList();
  BuildGatewayNameList();
  BuildLockStatusNameList();
  BuildServerNameList();
}

void TIOProduct::BuildLocationNameList() { BuildList(LocationNameList, &TIOMod::szLocation); }
void TIOProduct::BuildConnectionNameList() { BuildList(ConnectionNameList, &TIOMod::szConnection); }
void TIOProduct::BuildModuleNameList() {
  ModuleNameList.Clear();
  for (TIOObject* o : IOObjList)
    if (o && o->nIOType == IOTYPE_MODULE) ModuleNameList.Add(o->szIOObjName);
}
void TIOProduct::BuildMacAddressNameList() { BuildList(MacAddressNameList, &TIOMod::szMacAddress); }
void TIOProduct::BuildSubnetMaskNameList() { BuildList(SubnetMaskNameList, &TIOMod::szSubnetMask); }
void TIOProduct::BuildGatewayNameList() { BuildList(GatewayNameList, &TIOMod::szGateway); }
void TIOProduct::BuildLockStatusNameList() { BuildList(LockStatusNameList, &TIOMod::szLockStatus); }
void TIOProduct::BuildServerNameList() { BuildList(ServerNameList, &TIOMod::szServerName); }

}  // namespace orv
