#include "inventory/io_tree.h"

#include <algorithm>
#include <cstdio>

#include "common/trace.h"
#include "inventory/io_mod.h"

namespace orv {

TIOTreeNode* TIOTree::AddChild(TIOTreeNode* parent, const std::string& text, TIOObject* data) {
  auto node = std::make_unique<TIOTreeNode>();
  node->szText = text;
  node->pData = data;
  node->pParent = parent;
  TIOTreeNode* raw = node.get();
  (parent ? parent->children : roots_).push_back(std::move(node));
  return raw;
}

namespace {
void SortLevel(std::vector<std::unique_ptr<TIOTreeNode>>& level,
               const std::function<bool(const std::string&, const std::string&)>& less) {
  std::stable_sort(level.begin(), level.end(),
                   [&](const auto& a, const auto& b) { return less(a->szText, b->szText); });
  for (auto& n : level) SortLevel(n->children, less);
}

void Collect(const std::vector<std::unique_ptr<TIOTreeNode>>& level,
             std::vector<TIOTreeNode*>& out) {
  for (const auto& n : level) {
    out.push_back(n.get());
    Collect(n->children, out);
  }
}

std::string UnitText(int32_t unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%2d", unit);
  return buf;
}
}  // namespace

void TIOTree::SortAll(const std::function<bool(const std::string&, const std::string&)>& less) {
  SortLevel(roots_, less);
}

std::vector<TIOTreeNode*> TIOTree::Nodes() const {
  std::vector<TIOTreeNode*> out;
  Collect(roots_, out);
  return out;
}

int ChannelIcon(int32_t mask) {
  if (mask & (0x01 | 0x02)) return ICON_DIGITAL;
  if (mask & (0x08 | 0x10)) return ICON_ANALOG;
  if (mask & (0x40 | 0x20)) return ICON_TEMPERATURE;
  return ICON_NONE;
}

int TextIcon(const std::string& text) {
  return text.find('.') != std::string::npos ? ICON_ADDRESS : ICON_NAME;
}

TIOTreeNode* AddModuleTreeNode(TIOMod& m, int32_t sortMode, TIOTree* tree,
                               TIOTreeNode* groupNode, const std::string& groupText) {
  ORV_TRACE("TIOMod::AddTreeNode");
  if (!tree) return nullptr;
  const bool odd = (m.nModuleClass & 1) != 0;
  TIOTreeNode* node = nullptr;
  if (sortMode == 1 && m.szConnection == groupText) {
    std::string text = (m.nModuleClass == 0x21 || !odd)
                           ? m.szIOObjName + "-<" + UnitText(m.nUnitID) + ">"
                           : m.szIOObjName;
    node = tree->AddChild(groupNode, text, &m);
    int icon = ChannelIcon(m.nSupportedChannelType);
    if (icon != ICON_NONE) node->SetIcon(icon);
  } else if (sortMode == 2 && m.szLocation == groupText) {
    std::string text = odd ? m.szIOObjName + "-<" + m.szConnection + ">"
                           : m.szIOObjName + "-<" + m.szConnection + "><" + UnitText(m.nUnitID) + ">";
    node = tree->AddChild(groupNode, text, &m);
  } else if (sortMode == 4 && m.szIOObjName == groupText) {
    int icon = ChannelIcon(m.nSupportedChannelType);
    if (icon != ICON_NONE && groupNode) groupNode->SetIcon(icon);
    std::string text = (m.nModuleClass == 0x21 || !odd)
                           ? m.szConnection + "-<" + UnitText(m.nUnitID) + ">"
                           : m.szConnection;
    node = tree->AddChild(groupNode, text, &m);
    node->SetIcon(TextIcon(text));
  }
  if (!node) return nullptr;
  // Modules nested under this one (none are created today) follow it.
  if (m.pOwnerList) {
    for (TIOObject* o : *m.pOwnerList) {
      if (o && o != &m && o->nIOType == IOTYPE_MODULE && o->pOwner == &m)
        static_cast<TIOMod*>(o)->AddTreeNode(sortMode, tree, node, groupText);
    }
  }
  m.pTreeNode = node;
  return node;
}

}  // namespace orv
