#include "platform/clock.h"
#include "platform/posix/message_loop.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {

struct TestHostWindow::Impl {
  platform::VirtualClock clock;
  platform::MessageLoop loop{clock};
};

TestHostWindow::TestHostWindow() : impl_(std::make_unique<Impl>()) {}
TestHostWindow::~TestHostWindow() = default;
void* TestHostWindow::Handle() {
  return static_cast<platform::HostWindow*>(&impl_->loop);
}
void TestHostWindow::Advance(uint32_t ms) {
  impl_->loop.Advance(ms);
}
double TestHostWindow::AwaitTimerMessages(uint64_t total, uint32_t capMs) {
  uint32_t ms = 0;
  for (; ms < capMs && TimerMessages() < total; ++ms) Advance(1);
  return ms;
}
uint64_t TestHostWindow::TimerMessages() const {
  return impl_->loop.TimerMessagesDelivered();
}
std::size_t TestHostWindow::ChildCount() const {
  return impl_->loop.ChildCount();
}
std::size_t TestHostWindow::TimerCount() const {
  return impl_->loop.TimerCount();
}

}  // namespace km4r::test
