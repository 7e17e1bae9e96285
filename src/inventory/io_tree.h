#pragma once
// The inventory tree as a toolkit-free node model: texts, icon numbers and the
// attached inventory objects. The product and its modules build it (the
// `treeView` and node arguments of ShowIOTree/AddTreeNode are a TIOTree and
// its TIOTreeNode pointers); the window mirrors it into its tree control.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv {

class TIOObject;
class TIOMod;

// Icon numbers of the tree's image list.
constexpr int ICON_NONE = -1;
constexpr int ICON_PRODUCT = 1;
constexpr int ICON_ADDRESS = 2;     // text contains "."
constexpr int ICON_NAME = 3;        // text without "."
constexpr int ICON_DIGITAL = 5;
constexpr int ICON_ANALOG = 6;
constexpr int ICON_TEMPERATURE = 7;

struct TIOTreeNode {
  std::string szText;
  int nImageIndex = ICON_NONE;
  int nSelectedIndex = ICON_NONE;
  TIOObject* pData = nullptr;  // not owned
  TIOTreeNode* pParent = nullptr;
  std::vector<std::unique_ptr<TIOTreeNode>> children;

  void SetIcon(int icon) { nImageIndex = nSelectedIndex = icon; }
};

class TIOTree {
 public:
  // parent == nullptr adds a top-level node.
  TIOTreeNode* AddChild(TIOTreeNode* parent, const std::string& text, TIOObject* data = nullptr);
  void Clear() { roots_.clear(); }
  const std::vector<std::unique_ptr<TIOTreeNode>>& Roots() const { return roots_; }
  // Sorts the nodes of every level by text; less(a, b) orders two texts.
  void SortAll(const std::function<bool(const std::string&, const std::string&)>& less);
  // Every node in index order (depth first, parents before children).
  std::vector<TIOTreeNode*> Nodes() const;

 private:
  std::vector<std::unique_ptr<TIOTreeNode>> roots_;
};

// Icon by the module's channel types: DI/DO, else AI/AO, else TC/RTD; none
// when the mask has none of these bits.
int ChannelIcon(int32_t nSupportedChannelType);
// ICON_ADDRESS when text contains ".", else ICON_NAME.
int TextIcon(const std::string& text);

// The module's part of the tree (TIOMod::AddTreeNode).
TIOTreeNode* AddModuleTreeNode(TIOMod& module, int32_t sortMode, TIOTree* tree,
                               TIOTreeNode* groupNode, const std::string& groupText);

}  // namespace orv
