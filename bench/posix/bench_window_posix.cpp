#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "bench/bench_window.h"

namespace km4r::bench {

namespace {

// Points fd at /dev/null for the lifetime of the object.
class NullRedirect {
 public:
  explicit NullRedirect(int fd) : fd_(fd) {
    saved_ = dup(fd_);
    const int null = open("/dev/null", fd_ == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0) {
      dup2(null, fd_);
      close(null);
    }
  }
  ~NullRedirect() {
    if (saved_ >= 0) {
      dup2(saved_, fd_);
      close(saved_);
    }
  }
  NullRedirect(const NullRedirect&) = delete;
  NullRedirect& operator=(const NullRedirect&) = delete;

 private:
  int fd_;
  int saved_ = -1;
};

}  // namespace

struct BenchWindow::Impl {
  explicit Impl(platform::Clock& clock) : loop(clock) {}
  platform::MessageLoop loop;
};

BenchWindow::BenchWindow(platform::Clock& clock) : impl_(std::make_unique<Impl>(clock)) {}

BenchWindow::~BenchWindow() = default;

std::string BenchWindow::Problem(bool) const {
  return "";  // the message loop is the bench's own
}

platform::HostWindow* BenchWindow::Host() {
  return &impl_->loop;
}

void BenchWindow::Advance(uint32_t ms) {
  impl_->loop.Advance(ms);
}

void BenchWindow::RunWithDialogCancelled(const std::function<void()>& config) {
  // The terminal dialog reads standard input: end of input is Cancel.
  std::cout.flush();
  std::fflush(nullptr);
  {
    NullRedirect in(STDIN_FILENO);
    NullRedirect out(STDOUT_FILENO);
    config();
    std::fflush(nullptr);
  }
  // The dialog read end of input; the next reader starts afresh.
  std::clearerr(stdin);
  std::cin.clear();
}

void BenchWindow::Wait(int ms) {
  impl_->loop.PumpOnce(ms);
}

}  // namespace km4r::bench
