#pragma once
// A product: the container that owns the device modules, keeps the sorted
// name lists derived from them and builds its part of the inventory tree.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discovery/answer_handler.h"  // IONODE (header only)
#include "inventory/io_mod.h"
#include "inventory/io_object.h"
#include "inventory/io_tree.h"

namespace orv {

// Sorted ascending by ASCII case-insensitive comparison; a text equal to one
// already held (ignoring case) is not added again.
class TNameList {
 public:
  void Add(const std::string& text);
  void Clear() { items_.clear(); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const std::string& operator[](std::size_t i) const { return items_[i]; }
  const std::vector<std::string>& Items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::string> items_;
};

// ASCII case-insensitive three-way comparison (letters a-z fold, everything
// else by byte value).
int CompareTextNoCase(const std::string& a, const std::string& b);

class TIOProduct : public TIOObject {
 public:
  explicit TIOProduct(int32_t nProductType);
  ~TIOProduct() override;

  // Slots 0 to 3.
  void Init(TIOView* view, void* parent, TIOObject* owner) override;
  void Quit() override;

  // Slots 4 to 8.
  virtual TIOMod* AddModule(void* parent, int32_t nModuleID, const std::string& ip,
                            const std::string& mac, const std::string& netmask,
                            const std::string& gateway, const std::string& lockStatus,
                            const std::string& firmwareVersion, const std::string& serverName);
  virtual void AddScanIO(void* parent, TProgressBar* progressBar,
                         const std::vector<IONODE>& records);
  virtual int32_t DelIO(TIOObject* module);
  // Inserting a device by address is not supported: returns null.
  virtual TIOMod* InsIO(void* parent, TIOObject* under, int32_t nModuleID, int32_t nModuleClass,
                        const std::string& ip);
  // treeView: TIOTree*, parentNode: TIOTreeNode*; returns the product node.
  virtual void* ShowIOTree(int32_t sortMode, void* treeView, void* parentNode);

  void ClearIOObjList();
  void HideAll();
  int32_t DelModule(TIOObject* module);
  void BuildIONameList();
  void BuildLocationNameList();
  void BuildConnectionNameList();
  void BuildModuleNameList();
  void BuildMacAddressNameList();
  void BuildSubnetMaskNameList();
  void BuildGatewayNameList();
  void BuildLockStatusNameList();
  void BuildServerNameList();

  bool Initialised() const { return bInitialised; }

  int32_t nProductType;
  TIOObjList IOObjList;
  TNameList LocationNameList;
  TNameList ConnectionNameList;
  TNameList ModuleNameList;
  TNameList MacAddressNameList;
  TNameList SubnetMaskNameList;
  TNameList GatewayNameList;
  TNameList LockStatusNameList;
  TNameList ServerNameList;
  // MAC texts chosen for a batch operation; created (emptied) by the device
  // list view, never filled by the inventory.
  std::vector<std::string> SelectedList;
  std::string szHostIP;

  // Where the progress text of AddScanIO goes (the main window's status
  // label) and how the view container is repainted between devices. Both may
  // be empty.
  std::function<void(const std::string&)> OnStatusText;
  std::function<void(void* parent)> OnRepaint;

 private:
  bool bInitialised = false;
  void DestroyEntry(std::size_t index);
  void BuildList(TNameList& list, const std::string TIOMod::*field);
};

}  // namespace orv
