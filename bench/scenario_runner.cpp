#include "bench/scenario_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "bench/bench_host.h"
#include "bench/host/trace_format.h"
#include "bench/profile_edit.h"
#include "bench/temp_dir.h"
#include "pendant/pendant_window.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

bool UsesPendantAbsent(const std::vector<Command>& commands) {
  for (const Command& c : commands)
    if (c.kind == CommandKind::PendantAbsent) return true;
  return false;
}

class Runner {
 public:
  Runner(const std::string& file, std::ostream& out, std::ostream& err)
      : file_(file),
        out_(out),
        err_(err),
        host_(clock_, [this](const std::string& line) { out_ << line << '\n'; }) {}

  int Run(const std::vector<Command>& commands, const std::string& modulePath) {
    if (tmp_.path().empty()) return Fail(0, "cannot create a temporary directory");
    profile_ = (tmp_.path() / "profile.xml").string();
    // A private copy of the module: loading it gives fresh module state even
    // when an earlier copy could not be unloaded.
    const fs::path copy = tmp_.path() / fs::path(modulePath).filename();
    std::error_code ec;
    fs::copy_file(modulePath, copy, fs::copy_options::overwrite_existing, ec);
    if (ec) return Fail(0, "cannot copy plug-in module " + modulePath + ": " + ec.message());
    std::string error;
    if (!host_.Load(copy.string(), &error)) {
      // The user knows the module by the path given, not by its copy's.
      const std::string shown = copy.string();
      for (std::size_t at = 0; (at = error.find(shown, at)) != std::string::npos;
           at += modulePath.size())
        error.replace(at, shown.size(), modulePath);
      return Fail(0, error);
    }
    bus_ = host_.Bus();
    const bool absent = UsesPendantAbsent(commands);
    if (bus_ != nullptr) {
      bus_->Reset();
      bus_->SetClock(&clock_);
      if (!absent)
        pendant_ = bus_->AddDevice(kVirtualPendantPath, kPendantVendorId, kPendantProductId);
    } else if (!absent) {
      return Fail(0, "plug-in module " + modulePath +
                         " has no virtual pendant (KM4R_VirtualBus); use the bench build");
    }
    for (const Command& c : commands) {
      if (!Execute(c)) return kRunFailed;
    }
    out_.flush();
    return kRunOk;
  }

 private:
  // Line 0: the file as a whole.
  int Fail(int line, const std::string& message) {
    out_.flush();
    err_ << file_;
    if (line > 0) err_ << ":" << line;
    err_ << ": " << message << '\n';
    return kRunFailed;
  }
  bool FailAt(const Command& c, const std::string& message) {
    Fail(c.line, message);
    return false;
  }

  platform::VirtualBus* NeedBus(const Command& c) {
    if (bus_ == nullptr) FailAt(c, "the plug-in module has no virtual pendant");
    return bus_;
  }

  // Makes a device arrive with an arrival message.
  void Arrive(int id) {
    bus_->Unplug(id, false);
    bus_->Plug(id, true);
  }

  void LastOutput(uint8_t (&report)[sim::kOutputReportBytes], std::size_t* writes) {
    std::fill(std::begin(report), std::end(report), uint8_t{0});
    *writes = 0;
    if (bus_ == nullptr || pendant_ < 0) return;
    *writes = bus_->OutputCount(pendant_);
    if (*writes > 0) bus_->LastOutput(pendant_, report, sim::kOutputReportBytes);
  }

  bool Execute(const Command& c) {
    std::string error;
    switch (c.kind) {
      case CommandKind::Profile:
        if (!SetProfileValue(profile_, c.key, c.text, &error)) return FailAt(c, error);
        return true;
      case CommandKind::Start: {
        out_ << sim::NameLine(host_.Start(profile_).c_str()) << '\n';
        const std::string problem = host_.Problem();
        if (!problem.empty()) return FailAt(c, problem);
        return true;
      }
      case CommandKind::Config:
        host_.ConfigCancelled();
        return true;
      case CommandKind::Stop:
        host_.Stop();
        return true;
      case CommandKind::PendantAbsent:
        return true;  // taken into account before the run
      case CommandKind::Unplug:
        if (NeedBus(c) == nullptr) return false;
        bus_->Unplug(pendant_, true);
        return true;
      case CommandKind::Plug:
        if (NeedBus(c) == nullptr) return false;
        if (pendant_ < 0) {
          pendant_ = bus_->AddDevice(kVirtualPendantPath, kPendantVendorId, kPendantProductId);
          Arrive(pendant_);
        } else {
          bus_->Plug(pendant_, true);
        }
        return true;
      case CommandKind::PlugOther:
        if (NeedBus(c) == nullptr) return false;
        if (other_ < 0) other_ = bus_->AddDevice(kOtherDevicePath, 0x1209, 0x0001);
        Arrive(other_);
        return true;
      case CommandKind::Report:
        if (NeedBus(c) == nullptr) return false;
        bus_->QueueInput(pendant_, c.bytes.data(), c.bytes.size());
        return true;
      case CommandKind::Latency:
        if (NeedBus(c) == nullptr) return false;
        bus_->SetLatency(pendant_, static_cast<uint32_t>(c.number));
        return true;
      case CommandKind::Led:
        host_.state().led[static_cast<short>(c.number)] = c.on;
        return true;
      case CommandKind::Dro:
        host_.state().dro[static_cast<short>(c.number)] = c.value;
        return true;
      case CommandKind::Field:
        SetField(host_.state(), *c.field, c.fieldIndex, c.intValue, c.value);
        return true;
      case CommandKind::Cycle:
        for (int64_t i = 0; i < c.number; ++i) host_.Cycle();
        return true;
      case CommandKind::Update:
        host_.Update(c.number);
        return true;
      case CommandKind::Tick:
        for (int64_t i = 0; i < c.number; ++i) {
          host_.Cycle();
          host_.Update(1);
        }
        return true;
      case CommandKind::Machine:
        host_.machine().SetEnabled(c.on);
        return true;
      case CommandKind::MachineFollow:
        host_.machine().SetFollowStepSize(c.on);
        return true;
      case CommandKind::ShowDisplay: {
        uint8_t report[sim::kOutputReportBytes];
        std::size_t writes = 0;
        LastOutput(report, &writes);
        out_ << sim::DisplayLine(report) << '\n';
        return true;
      }
      case CommandKind::ShowReport: {
        uint8_t report[sim::kOutputReportBytes];
        std::size_t writes = 0;
        LastOutput(report, &writes);
        out_ << sim::ReportLine(report, writes) << '\n';
        return true;
      }
      case CommandKind::ShowJog:
        out_ << sim::JogLine(host_.state().blockA.data(), static_cast<int>(c.number)) << '\n';
        return true;
      case CommandKind::ShowStatus:
        out_ << sim::StatusLine(host_.state().StatusText().c_str()) << '\n';
        return true;
      case CommandKind::ShowDro: {
        const auto code = static_cast<short>(c.number);
        out_ << sim::DroLine(code, host_.state().dro[code]) << '\n';
        return true;
      }
      case CommandKind::ShowProfile: {
        std::vector<std::pair<std::string, std::string>> keys;
        if (!ReadPendantSection(profile_, &keys, &error)) return FailAt(c, error);
        out_ << sim::ProfileLine(keys) << '\n';
        return true;
      }
    }
    return true;
  }

  std::string file_;
  std::ostream& out_;
  std::ostream& err_;
  TempDir tmp_;
  std::string profile_;
  platform::VirtualClock clock_;
  BenchHost host_;
  platform::VirtualBus* bus_ = nullptr;
  int pendant_ = -1;
  int other_ = -1;
};

}  // namespace

int RunScenario(const std::string& file, const std::vector<Command>& commands,
                const std::string& modulePath, std::ostream& out, std::ostream& err) {
  Runner runner(file, out, err);
  return runner.Run(commands, modulePath);
}

bool ReadScenarioText(const std::string& file, std::string* text, std::string* error) {
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  if (ec) {
    *error = ec.message();
    return false;
  }
  if (fs::is_directory(st)) {
    *error = "it is a directory";
    return false;
  }
  if (!fs::is_regular_file(st)) {
    *error = "not a regular file";
    return false;
  }
  errno = 0;
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) {
    *error = errno != 0 ? std::strerror(errno) : "cannot open it";
    return false;
  }
  // One byte more than allowed tells a file at the limit from a larger one,
  // also when the file grows while it is read.
  text->assign(kMaxScenarioBytes + 1, '\0');
  const std::size_t n = std::fread(text->data(), 1, text->size(), f);
  const bool failed = std::ferror(f) != 0;
  const int why = errno;
  std::fclose(f);
  if (failed) {
    *error = why != 0 ? std::strerror(why) : "read error";
    return false;
  }
  if (n > kMaxScenarioBytes) {
    *error =
        "larger than " + std::to_string(kMaxScenarioBytes) + " bytes, the limit for a scenario";
    return false;
  }
  text->resize(n);
  return true;
}

int RunScenarioFile(const std::string& file, const std::string& modulePath, std::ostream& out,
                    std::ostream& err) {
  std::string text;
  std::string error;
  if (!ReadScenarioText(file, &text, &error)) {
    err << file << ": cannot read the file: " << error << '\n';
    return kRunFailed;
  }
  const ParseResult parsed = ParseScenario(text);
  if (!parsed.ok) {
    err << file << ":" << parsed.errorLine << ": " << parsed.error << '\n';
    return kRunParseError;
  }
  // Without start or config the plug-in is never called: an empty trace
  // would pass for a run.
  bool calls = false;
  for (const Command& c : parsed.commands)
    calls = calls || c.kind == CommandKind::Start || c.kind == CommandKind::Config;
  if (!calls) {
    err << file << ": no 'start' (or 'config'): the plug-in would never run\n";
    return kRunParseError;
  }
  return RunScenario(file, parsed.commands, modulePath, out, err);
}

}  // namespace km4r::bench
