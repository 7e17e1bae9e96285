#pragma once
// Root of the inventory class tree: every product and device module is a
// TIOObject with a kind, a display name, an owned view and a non-owning owner.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv {

constexpr int32_t IOTYPE_PRODUCT = 1;
constexpr int32_t IOTYPE_MODULE = 2;

// What the inventory needs of a view: it is attached to a container, fills it,
// is shown and hidden, and is destroyed by the object that owns it. The
// desktop program derives its panels from this; the command line has none.
class TIOView {
 public:
  virtual ~TIOView() = default;
  // parent is the toolkit container that receives the view (opaque here).
  virtual void AttachTo(void* parent) {}
  virtual void FillParent() {}
  virtual void SetVisible(bool visible) {}
};

class TIOObject;
// A product's object list: insertion order, the product owns the objects.
using TIOObjList = std::vector<TIOObject*>;

class TIOObject {
 public:
  TIOObject(int32_t nIOType, std::string szIOObjName);
  virtual ~TIOObject();
  TIOObject(const TIOObject&) = delete;
  TIOObject& operator=(const TIOObject&) = delete;

  // Slots 0 to 3.
  // Takes ownership of view (may be null), attaches it to parent, makes it
  // fill the container, hides it, and remembers owner.
  virtual void Init(TIOView* view, void* parent, TIOObject* owner);
  virtual void Quit();  // destroys the view
  virtual void Show();
  virtual void Hide();

  int32_t nIOType;
  std::unique_ptr<TIOView> pView;
  std::string szIOObjName;
  TIOObject* pOwner = nullptr;
};

}  // namespace orv
