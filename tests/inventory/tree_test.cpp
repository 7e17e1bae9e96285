// Inventory tree: node texts, icons and grouping for every sort mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/io_product.h"
#include "inventory/io_tree.h"

namespace orv {
namespace {

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override { product.Init(nullptr, nullptr, nullptr); }
  void TearDown() override {
    product.Quit();
    // The product lets go of modules of classes 0x21, 0x41 and 0x51 without
    // destroying them; they stay the creator's.
    for (TIOMod* m : notOwned) delete m;
  }

  TIOMod* Add(int model, const std::string& ip, int cls = 0x11, int unit = 1, int mask = 0x08) {
    auto* m = new TIOMod(0, unit, model, 16, mask);
    m->nModuleClass = cls;
    if (cls == 0x21 || cls == 0x41 || cls == 0x51) notOwned.push_back(m);
    m->Init(nullptr, nullptr, &product);
    m->AddIO(&product.IOObjList, nullptr, ip, "00-00-00-00-00-01", "255.255.255.0", "0.0.0.0",
             "Unlock", "1.0", "srv");
    return m;
  }
  TIOTreeNode* Build(int mode) {
    product.BuildIONameList();
    tree.Clear();
    TIOTreeNode* host = tree.AddChild(nullptr, "Host:10.0.0.100");
    return static_cast<TIOTreeNode*>(product.ShowIOTree(mode, &tree, host));
  }
  static std::vector<std::string> Texts(const TIOTreeNode* n) {
    std::vector<std::string> out;
    for (const auto& c : n->children) out.push_back(c->szText);
    return out;
  }

  TIOProduct product{0};
  TIOTree tree;
  std::vector<TIOMod*> notOwned;
};

TEST_F(TreeTest, ByConnectionGroupsByAddressSortedAsText) {
  TIOMod* a = Add(0, "192.168.127.2");
  TIOMod* b = Add(4, "192.168.127.10");
  TIOMod* c = Add(20, "192.168.127.2");
  TIOTreeNode* p = Build(1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->szText, "Orvistar");
  EXPECT_EQ(p->pData, &product);
  EXPECT_EQ(p->nImageIndex, ICON_PRODUCT);
  EXPECT_EQ(p->nSelectedIndex, ICON_PRODUCT);
  ASSERT_EQ(Texts(p), (std::vector<std::string>{"192.168.127.10", "192.168.127.2"}));
  const TIOTreeNode* g2 = p->children[1].get();
  EXPECT_EQ(g2->pData, nullptr);
  EXPECT_EQ(g2->nImageIndex, ICON_ADDRESS);
  // Class 0x11 is odd: the model name alone.
  EXPECT_EQ(Texts(g2), (std::vector<std::string>{"K7710-GPRS-C", "K7710-GPRS-C-T"}));
  EXPECT_EQ(g2->children[0]->pData, a);
  EXPECT_EQ(g2->children[0]->nImageIndex, ICON_ANALOG);
  EXPECT_EQ(a->pTreeNode, g2->children[0].get());
  EXPECT_EQ(c->pTreeNode, g2->children[1].get());
  EXPECT_EQ(b->pTreeNode, p->children[0]->children[0].get());
  // Host, product, two groups, three modules in index order.
  auto nodes = tree.Nodes();
  ASSERT_EQ(nodes.size(), 7u);
  EXPECT_EQ(nodes[0]->szText, "Host:10.0.0.100");
  EXPECT_EQ(nodes[3]->szText, "Tramix 4410-5-RJ45-C");
}

TEST_F(TreeTest, UnitNumberFormatsAndClassRules) {
  Add(0, "10.0.0.1", 0x21, 1);   // 0x21: name with unit even though odd
  Add(1, "10.0.0.1", 0x00, 12);  // even class: name with unit
  Add(2, "10.0.0.1", 0x13, 3);   // odd: name alone
  TIOTreeNode* p = Build(1);
  ASSERT_EQ(p->children.size(), 1u);
  EXPECT_EQ(Texts(p->children[0].get()),
            (std::vector<std::string>{"K7710-GPRS-C-< 1>", "K7710-HSDPA-C-<12>", "K7710-GPRS-IEC"}));

  p = Build(4);
  ASSERT_EQ(Texts(p), (std::vector<std::string>{"K7710-GPRS-C", "K7710-GPRS-IEC", "K7710-HSDPA-C"}));
  EXPECT_EQ(Texts(p->children[0].get()), (std::vector<std::string>{"10.0.0.1-< 1>"}));
  EXPECT_EQ(Texts(p->children[1].get()), (std::vector<std::string>{"10.0.0.1"}));
  EXPECT_EQ(Texts(p->children[2].get()), (std::vector<std::string>{"10.0.0.1-<12>"}));

  p = Build(2);
  ASSERT_EQ(Texts(p), (std::vector<std::string>{"Taiwan"}));
  EXPECT_EQ(Texts(p->children[0].get()),
            (std::vector<std::string>{"K7710-GPRS-C-<10.0.0.1>", "K7710-HSDPA-C-<10.0.0.1><12>",
                                      "K7710-GPRS-IEC-<10.0.0.1>"}));
}

TEST_F(TreeTest, ByRTUIconsFromModulesAndAddresses) {
  Add(0, "192.168.127.254");
  Add(0, "192.168.127.1", 0x11, 1, 0x04);  // RELAY only: leaves the group icon alone
  Add(4, "hostname", 0x11, 1, 0x01);
  TIOTreeNode* p = Build(4);
  ASSERT_EQ(Texts(p), (std::vector<std::string>{"K7710-GPRS-C", "Tramix 4410-5-RJ45-C"}));
  const TIOTreeNode* k = p->children[0].get();
  EXPECT_EQ(k->nImageIndex, ICON_ANALOG);
  EXPECT_EQ(k->pData, nullptr);
  ASSERT_EQ(Texts(k), (std::vector<std::string>{"192.168.127.254", "192.168.127.1"}));
  EXPECT_EQ(k->children[0]->nImageIndex, ICON_ADDRESS);
  const TIOTreeNode* t = p->children[1].get();
  EXPECT_EQ(t->nImageIndex, ICON_DIGITAL);
  EXPECT_EQ(t->children[0]->nImageIndex, ICON_NAME);  // no "." in the text
}

TEST_F(TreeTest, LocationModeSetsNoIcons) {
  Add(0, "192.168.127.254");
  TIOTreeNode* p = Build(2);
  ASSERT_EQ(p->children.size(), 1u);
  EXPECT_EQ(p->children[0]->nImageIndex, ICON_NONE);
  EXPECT_EQ(p->children[0]->children[0]->nImageIndex, ICON_NONE);
  EXPECT_EQ(p->children[0]->children[0]->szText, "K7710-GPRS-C-<192.168.127.254>");
}

TEST_F(TreeTest, OtherModesAndEmptyProductGiveProductNodeOnly) {
  TIOTreeNode* p = Build(1);
  EXPECT_TRUE(p->children.empty());
  EXPECT_EQ(tree.Nodes().size(), 2u);
  Add(0, "10.0.0.1");
  for (int mode : {0, 3, 5, 8, -1}) {
    p = Build(mode);
    EXPECT_TRUE(p->children.empty()) << mode;
  }
}

TEST(ChannelIconTest, PriorityOrder) {
  EXPECT_EQ(ChannelIcon(0x01 | 0x08 | 0x40), ICON_DIGITAL);
  EXPECT_EQ(ChannelIcon(0x02), ICON_DIGITAL);
  EXPECT_EQ(ChannelIcon(0x10 | 0x20), ICON_ANALOG);
  EXPECT_EQ(ChannelIcon(0x20), ICON_TEMPERATURE);
  EXPECT_EQ(ChannelIcon(0x40), ICON_TEMPERATURE);
  EXPECT_EQ(ChannelIcon(0x04), ICON_NONE);
  EXPECT_EQ(ChannelIcon(0x80), ICON_NONE);
}

TEST(TreeModelTest, SortAllOrdersEveryLevel) {
  TIOTree t;
  TIOTreeNode* r = t.AddChild(nullptr, "root");
  TIOTreeNode* b = t.AddChild(r, "b");
  t.AddChild(r, "a");
  t.AddChild(b, "z");
  t.AddChild(b, "y");
  t.SortAll([](const std::string& x, const std::string& y) { return x < y; });
  std::vector<std::string> order;
  for (auto* n : t.Nodes()) order.push_back(n->szText);
  EXPECT_EQ(order, (std::vector<std::string>{"root", "a", "b", "y", "z"}));
  EXPECT_EQ(b->children[0]->pParent, b);
}

}  // namespace
}  // namespace orv
