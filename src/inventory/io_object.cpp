#include "inventory/io_object.h"

namespace orv {

TIOObject::TIOObject(int32_t type, std::string name)
    : nIOType(type), szIOObjName(std::move(name)) {}

TIOObject::~TIOObject() = default;

void TIOObject::Init(TIOView* view, void* parent, TIOObject* owner) {
  pView.reset(view);
  if (pView) {
    pView->AttachTo(parent);
    pView->FillParent();
    pView->SetVisible(false);
  }
  pOwner = owner;
}

void TIOObject::Quit() { pView.reset(); }

void TIOObject::Show() {
  if (pView) pView->SetVisible(true);
}

void TIOObject::Hide() {
  if (pView) pView->SetVisible(false);
}

}  // namespace orv
