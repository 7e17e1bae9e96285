// Product object list, name lists, scan import, removal and clearing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/routes.h"
#include "inventory/io_product.h"
#include "inventory/name_tables.h"

namespace orv {
namespace {

// A view that counts what the inventory does with it.
struct CountingView : TIOView {
  int* destroyed;
  void* attachedTo = nullptr;
  bool visible = true;
  explicit CountingView(int* d) : destroyed(d) {}
  ~CountingView() override { ++*destroyed; }
  void AttachTo(void* p) override { attachedTo = p; }
  void SetVisible(bool v) override { visible = v; }
};

// A product that creates plain modules, with views, for every valid model.
class PlainProduct : public TIOProduct {
 public:
  PlainProduct() : TIOProduct(PRODUCT_SCOUTIX) {}
  int viewsDestroyed = 0;
  TIOMod* AddModule(void* parent, int32_t id, const std::string& ip, const std::string& mac,
                    const std::string& mask, const std::string& gw, const std::string& lock,
                    const std::string& fw, const std::string& name) override {
    if (!IsValidModelIndex(id)) return nullptr;
    auto* m = new TIOMod(0, 1, id, 16, 0x08);
    m->Init(new CountingView(&viewsDestroyed), parent, this);
    m->AddIO(&IOObjList, parent, ip, mac, mask, gw, lock, fw, name);
    return m;
  }
};

struct RecordingBar : TProgressBar {
  int32_t pos = 0;
  int32_t Position() const override { return pos; }
  void SetPosition(int32_t p) override { pos = p; }
};

IONODE Node(int model, const std::string& ip, const std::string& mac = "00-11-22-33-44-55",
            const std::string& name = "srv") {
  IONODE n;
  n.nModelIndex = model;
  n.szIP = ip;
  n.szMac = mac;
  n.szNetmask = "255.255.255.0";
  n.szGateway = "0.0.0.0";
  n.szRevision = "1.2.3";
  n.szLockMode = "Unlock";
  n.szServerName = name;
  return n;
}

class ProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product.Init(nullptr, nullptr, nullptr);
    product.OnStatusText = [this](const std::string& s) { status.push_back(s); };
    product.OnRepaint = [this](void*) { ++repaints; };
  }
  PlainProduct product;
  std::vector<std::string> status;
  int repaints = 0;
};

TEST(NameListTest, SortedCaseInsensitiveWithoutDuplicates) {
  TNameList l;
  for (const char* s : {"beta", "Alpha", "TAIWAN", "alpha", "Taiwan", "_x", "Z"}) l.Add(s);
  // '_' (0x5F) sorts after the folded letters 'A'..'Z' (0x41..0x5A).
  EXPECT_EQ(l.Items(), (std::vector<std::string>{"Alpha", "beta", "TAIWAN", "Z", "_x"}));
  EXPECT_EQ(CompareTextNoCase("abc", "ABD"), -1);
  EXPECT_EQ(CompareTextNoCase("ab", "AB"), 0);
  EXPECT_EQ(CompareTextNoCase("abc", "AB"), 1);
}

TEST_F(ProductTest, NameAndKind) {
  EXPECT_EQ(product.szIOObjName, "Orvistar");
  EXPECT_EQ(product.nIOType, IOTYPE_PRODUCT);
  EXPECT_TRUE(product.szHostIP.empty());
}

TEST_F(ProductTest, AddScanIOCountsStatusAndProgress) {
  RecordingBar bar;
  bar.pos = 1;  // the window starts the bar at 1
  std::vector<IONODE> recs{Node(0, "10.0.0.1"), Node(13, "10.0.0.2"), Node(24, "10.0.0.3")};
  product.AddScanIO(nullptr, &bar, recs);
  ASSERT_EQ(status.size(), 3u);
  EXPECT_EQ(status[0], "Adding I/O server: K7710-GPRS-C [1/3]");
  EXPECT_EQ(status[1], "Adding I/O server:  [2/3]");  // model 13 has an empty name
  EXPECT_EQ(status[2], "Adding I/O server: Tramix 4410-5-RJ45-C-T [3/3]");
  // The invalid model 13 created nothing and did not advance the bar.
  EXPECT_EQ(bar.pos, 3);
  EXPECT_EQ(product.IOObjList.size(), 2u);
  EXPECT_EQ(repaints, 3);
  EXPECT_EQ(product.ConnectionNameList.Items(),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(product.ModuleNameList.Items(),
            (std::vector<std::string>{"K7710-GPRS-C", "Tramix 4410-5-RJ45-C-T"}));
  for (TIOObject* o : product.IOObjList) EXPECT_EQ(o->pOwner, &product);
}

TEST_F(ProductTest, RecordsOfAnotherKindAreSkipped) {
  std::vector<IONODE> recs{Node(0, "10.0.0.1")};
  recs[0].nKind = 2;
  product.AddScanIO(nullptr, nullptr, recs);
  EXPECT_EQ(status.size(), 1u);
  EXPECT_TRUE(product.IOObjList.empty());
}

TEST_F(ProductTest, EmptyScanRebuildsStaleLists) {
  product.AddScanIO(nullptr, nullptr, {Node(0, "10.0.0.1")});
  product.ClearIOObjList();
  // Clearing alone leaves the lists stale until the next import.
  EXPECT_EQ(product.ConnectionNameList.size(), 1u);
  product.AddScanIO(nullptr, nullptr, {});
  for (const TNameList* l :
       {&product.LocationNameList, &product.ConnectionNameList, &product.ModuleNameList,
        &product.MacAddressNameList, &product.SubnetMaskNameList, &product.GatewayNameList,
        &product.LockStatusNameList, &product.ServerNameList})
    EXPECT_TRUE(l->empty());
}

TEST_F(ProductTest, NameListsFoldCaseAndDeduplicate) {
  product.AddScanIO(nullptr, nullptr,
                    {Node(0, "10.0.0.2", "AA-00-00-00-00-01", "pump"),
                     Node(0, "10.0.0.10", "AA-00-00-00-00-02", "PUMP"),
                     Node(4, "10.0.0.2", "aa-00-00-00-00-01", "Zeta")});
  static_cast<TIOMod*>(product.IOObjList[1])->szLocation = "TAIWAN";
  product.BuildIONameList();
  EXPECT_EQ(product.LocationNameList.Items(), (std::vector<std::string>{"Taiwan"}));
  // Texts, not numbers: .10 before .2.
  EXPECT_EQ(product.ConnectionNameList.Items(),
            (std::vector<std::string>{"10.0.0.10", "10.0.0.2"}));
  EXPECT_EQ(product.MacAddressNameList.size(), 2u);
  EXPECT_EQ(product.ServerNameList.Items(), (std::vector<std::string>{"pump", "Zeta"}));
  EXPECT_EQ(product.LockStatusNameList.Items(), (std::vector<std::string>{"Unlock"}));
}

TEST_F(ProductTest, DelIORemovesDependantsAndRebuilds) {
  product.AddScanIO(nullptr, nullptr, {Node(0, "10.0.0.1"), Node(4, "10.0.0.2")});
  TIOObject* first = product.IOObjList[0];
  TIOObject* second = product.IOObjList[1];
  // Nest the second under the first: deleting the first takes both.
  second->pOwner = first;
  EXPECT_EQ(product.DelIO(first), 2);
  EXPECT_TRUE(product.IOObjList.empty());
  EXPECT_EQ(product.viewsDestroyed, 2);
  EXPECT_TRUE(product.ConnectionNameList.empty());
}

TEST_F(ProductTest, DelIOOfOnlyModuleAndOfStranger) {
  product.AddScanIO(nullptr, nullptr, {Node(0, "10.0.0.1")});
  TIOMod stranger(0, 1, 0, 16, 8);
  EXPECT_EQ(product.DelIO(&stranger), 0);
  EXPECT_EQ(product.DelIO(nullptr), 0);
  EXPECT_EQ(product.ConnectionNameList.size(), 1u);  // untouched
  EXPECT_EQ(product.DelIO(product.IOObjList[0]), 1);
  EXPECT_TRUE(product.ModuleNameList.empty());
  EXPECT_TRUE(product.LocationNameList.empty());
  EXPECT_EQ(product.InsIO(nullptr, &product, 0, 0x11, "10.0.0.9"), nullptr);
}

TEST_F(ProductTest, ClearKeepsClassesItDoesNotOwn) {
  product.AddScanIO(nullptr, nullptr, {Node(0, "10.0.0.1")});
  // Modules of classes 0x21, 0x41 and 0x51 are dropped from the list but not
  // destroyed; every other module is.
  std::vector<std::unique_ptr<TIOMod>> kept;
  int keptViewsDestroyed = 0;
  for (int cls : {0x21, 0x41, 0x51}) {
    kept.push_back(std::make_unique<TIOMod>(0, 1, 0, 16, 8));
    kept.back()->nModuleClass = cls;
    kept.back()->Init(new CountingView(&keptViewsDestroyed), nullptr, &product);
    product.IOObjList.push_back(kept.back().get());
  }
  product.IOObjList.push_back(nullptr);
  // Clearing the inventory lets go of the devices' route records too.
  RouteNodeList.push_back({"10.0.0.254", "10.0.0.1", "00-0A-1B-2C-3D-01"});
  product.ClearIOObjList();
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_TRUE(product.IOObjList.empty());
  EXPECT_EQ(product.viewsDestroyed, 1);
  EXPECT_EQ(keptViewsDestroyed, 0);
  for (auto& m : kept) EXPECT_NE(m->pView, nullptr);
  for (auto& m : kept) m->Quit();
  EXPECT_EQ(keptViewsDestroyed, 3);
}

TEST_F(ProductTest, HideAllAndQuitDestroyViews) {
  product.AddScanIO(nullptr, nullptr, {Node(0, "10.0.0.1"), Node(1, "10.0.0.2")});
  for (TIOObject* o : product.IOObjList) o->Show();
  product.HideAll();
  for (TIOObject* o : product.IOObjList)
    EXPECT_FALSE(static_cast<CountingView*>(o->pView.get())->visible);
  product.Quit();
  EXPECT_EQ(product.viewsDestroyed, 2);
  EXPECT_TRUE(product.IOObjList.empty());
}

}  // namespace
}  // namespace orv
