// ChildWindow on Linux: the child registers itself with the host's message
// loop, which dispatches its timer and device-change messages.
#include "platform/posix/host_window.h"
#include "platform/window.h"

namespace km4r::platform {

struct ChildWindow::Impl {
  HostWindow* parent = nullptr;
};

ChildWindow::ChildWindow() : impl_(new Impl) {}

ChildWindow::~ChildWindow() {
  if (impl_->parent != nullptr) impl_->parent->DetachChild(this);
  delete impl_;
}

bool ChildWindow::Create(HostWindow* parent, int /*left*/, int /*top*/, int /*right*/,
                         int /*bottom*/, int id) {
  if (parent == nullptr || impl_->parent != nullptr) return false;
  if (!parent->AttachChild(this, id)) return false;
  impl_->parent = parent;
  return true;
}

bool ChildWindow::IsCreated() const {
  return impl_->parent != nullptr;
}

bool ChildWindow::StartTimer(uint32_t id, uint32_t periodMs) {
  return impl_->parent != nullptr && impl_->parent->SetTimer(this, id, periodMs);
}

void* ChildWindow::NativeHandle() const {
  return impl_->parent != nullptr ? const_cast<ChildWindow*>(this) : nullptr;
}

void ChildWindow::ParentDestroyed() {
  impl_->parent = nullptr;
  OnParentDestroyed();
}

HostWindow* ChildWindow::Parent() const {
  return impl_->parent;
}

}  // namespace km4r::platform
