// The test programs' main on Windows. GoogleTest's printer also raises every
// failure and skip it prints as a debug-string exception; under Wine on an
// emulated 32-bit CPU that exception leaves the process unable to run on, so
// one skipped row ended a whole suite. Results go to standard output only.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

using ::testing::TestEventListener;
using ::testing::TestPartResult;
using ::testing::TestSuite;
using ::testing::UnitTest;

class StdoutPrinter : public TestEventListener {
 public:
  explicit StdoutPrinter(TestEventListener* printer) : printer_(printer) {}

  void OnTestPartResult(const TestPartResult& result) override {
    if (result.type() == TestPartResult::kSuccess) return;
    std::printf("%s:%d: %s\n%s\n", result.file_name() ? result.file_name() : "unknown file",
                result.line_number(), result.skipped() ? "Skipped" : "Failure", result.message());
    std::fflush(stdout);
  }

  void OnTestProgramStart(const UnitTest& u) override { printer_->OnTestProgramStart(u); }
  void OnTestIterationStart(const UnitTest& u, int i) override {
    printer_->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const UnitTest& u) override {
    printer_->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const UnitTest& u) override { printer_->OnEnvironmentsSetUpEnd(u); }
  void OnTestSuiteStart(const TestSuite& s) override { printer_->OnTestSuiteStart(s); }
#ifndef GTEST_REMOVE_LEGACY_TEST_CASEAPI_
  // The printer this GoogleTest builds answers to these names instead.
  void OnTestCaseStart(const ::testing::TestCase& c) override {
    printer_->OnTestCaseStart(c);
  }
  void OnTestCaseEnd(const ::testing::TestCase& c) override {
    printer_->OnTestCaseEnd(c);
  }
#endif
  void OnTestStart(const ::testing::TestInfo& t) override {
    printer_->OnTestStart(t);
  }
  void OnTestDisabled(const ::testing::TestInfo& t) override {
    printer_->OnTestDisabled(t);
  }
  void OnTestEnd(const ::testing::TestInfo& t) override {
    printer_->OnTestEnd(t);
  }
  void OnTestSuiteEnd(const TestSuite& s) override {
    printer_->OnTestSuiteEnd(s);
  }
  void OnEnvironmentsTearDownStart(const UnitTest& u) override {
    printer_->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const UnitTest& u) override {
    printer_->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const UnitTest& u, int i) override {
    printer_->OnTestIterationEnd(u, i);
  }
  void OnTestProgramEnd(const UnitTest& u) override {
    printer_->OnTestProgramEnd(u);
  }

 private:
  std::unique_ptr<TestEventListener> printer_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::TestEventListeners& listeners = UnitTest::GetInstance()->listeners();
  TestEventListener* printer = listeners.Release(listeners.default_result_printer());
  if (printer != nullptr) listeners.Append(new StdoutPrinter(printer));
  return RUN_ALL_TESTS();
}
