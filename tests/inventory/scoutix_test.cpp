// The search-result product: one RTU module with its console view per
// discovered device, and one device list refill per import.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inventory/pd_scoutix.h"

namespace orv {
namespace {

struct ListView : TProductView {
  std::vector<std::string>* log;
  explicit ListView(std::vector<std::string>* l) : log(l) {}
  ~ListView() override { log->push_back("destroyed"); }
  void OnInit() override { log->push_back("init"); }
  void OnQuit() override { log->push_back("quit"); }
  void OnAddIO(TIOObjList* list) override {
    log->push_back("addio " + std::to_string(list ? list->size() : 99));
  }
};

struct ConsoleView : TModuleConsoleView {
  std::vector<std::string>* log;
  void* parent = nullptr;
  bool visible = true;
  std::string caption;
  explicit ConsoleView(std::vector<std::string>* l) : log(l) {}
  ~ConsoleView() override { log->push_back("console destroyed"); }
  void AttachTo(void* p) override { parent = p; }
  void SetVisible(bool v) override { visible = v; }
  void Setup(TIOMod& m) override { caption = m.szIOObjName; }
};

IONODE Node(int model, const std::string& ip) {
  IONODE n;
  n.nModelIndex = model;
  n.szIP = ip;
  n.szMac = "00-90-E8-00-00-01";
  return n;
}

class ScoutixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product.MakeConsoleView = [this](TModNx9000&) { return new ConsoleView(&log); };
    product.Init(new ListView(&log), &panel, nullptr);
  }
  int panel = 0;  // stands in for the window's view panel
  std::vector<std::string> log;
  TScoutix product;
};

TEST_F(ScoutixTest, ThreeDevicesThreeModulesOneRefill) {
  product.AddScanIO(&panel, nullptr, {Node(0, "10.0.0.1"), Node(4, "10.0.0.2"), Node(24, "10.0.0.3")});
  ASSERT_EQ(product.IOObjList.size(), 3u);
  const char* names[] = {"K7710-GPRS-C", "Tramix 4410-5-RJ45-C", "Tramix 4410-5-RJ45-C-T"};
  for (std::size_t i = 0; i < 3; ++i) {
    auto* m = dynamic_cast<TModNx9000*>(product.IOObjList[i]);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->szIOObjName, names[i]);
    EXPECT_EQ(m->pOwner, &product);
    EXPECT_EQ(m->pOwnerList, &product.IOObjList);
    auto* v = dynamic_cast<ConsoleView*>(m->pView.get());
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->parent, &panel);
    EXPECT_FALSE(v->visible);
    EXPECT_EQ(v->caption, names[i]);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"init", "addio 3"}));
}

TEST_F(ScoutixTest, EmptySearchStillRefillsOnce) {
  product.AddScanIO(&panel, nullptr, {});
  EXPECT_EQ(log, (std::vector<std::string>{"init", "addio 0"}));
}

TEST_F(ScoutixTest, ModelOutsideTheTableCreatesNothing) {
  for (int id : {-1, 12, 19, 32, 1000}) {
    EXPECT_EQ(product.AddModule(&panel, id, "10.0.0.1", "", "", "", "", "", ""), nullptr) << id;
  }
  EXPECT_TRUE(product.IOObjList.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"init"}));
}

TEST_F(ScoutixTest, ClearAndQuitDestroyConsoleViews) {
  product.AddScanIO(&panel, nullptr, {Node(0, "10.0.0.1"), Node(1, "10.0.0.2")});
  product.ClearIOObjList();
  EXPECT_EQ(std::count(log.begin(), log.end(), "console destroyed"), 2);
  product.AddScanIO(&panel, nullptr, {Node(2, "10.0.0.3")});
  product.Quit();
  EXPECT_EQ(std::count(log.begin(), log.end(), "console destroyed"), 3);
  // The list view hears Quit before it is destroyed.
  auto quit = std::find(log.begin(), log.end(), "quit");
  auto gone = std::find(log.begin(), log.end(), "destroyed");
  EXPECT_LT(quit, gone);
  EXPECT_NE(gone, log.end());
}

}  // namespace
}  // namespace orv
