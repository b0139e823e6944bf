// `live`: the plug-in with the pendant, in real time. The session is the
// same on every platform; how the pendant, the recording's file and a stop
// request are reached is live_system.h's.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <utility>
#include <vector>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/live_system.h"
#include "bench/profile_edit.h"
#include "bench/scenario_runner.h"
#include "bench/session_view.h"
#include "bench/system.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kTickMs = 25;
// Presence is looked up every tenth tick (250 ms).
constexpr uint64_t kPresenceTicks = 10;

std::string Hex(const uint8_t* b, std::size_t n) {
  std::string out;
  char byte[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", b[i]);
    out += byte;
  }
  return out;
}

// One input report in the pendant's own terms. Every field has a fixed
// width, so on a terminal a carriage return alone lets the next overwrite it.
std::string RawLine(const uint8_t* r) {
  const uint32_t w0 = ReportWord(r, 0);
  const uint32_t w1 = ReportWord(r, 4);
  char text[160];
  std::snprintf(text, sizeof text,
                "raw: axis sel %2d  step sel %3d  mode %d  wheel %3d  speed %3d  E-stop %-3s  "
                "switch %-3s  [%s]",
                AxisSelectorBits(w0), StepSelectorBits(w1), ModeField(w0), WheelCountByte(w0),
                WheelSpeedByte(w0), EstopBit(w0) != 0 ? "on" : "off",
                EnableBit(w0) != 0 ? "on" : "off", Hex(r, kLiveReportBytes).c_str());
  return text;
}

// The session as a scenario: the live host's set-up and settings, then the
// input reports, plugs and unplugs, each before the tick it arrived in. Each
// line goes to the file as it is made, so a crash or a kill leaves every
// event up to the last.
class Recorder {
 public:
  ~Recorder() { Close(); }
  // An existing file is kept unless force is given.
  bool Open(const std::string& path, bool force, std::string* error) {
    return file_.Create(path, force, error);
  }
  bool active() const { return file_.IsOpen(); }

  void Line(const std::string& line) {
    if (!active()) return;
    Flush();
    file_.Write(line + '\n');
  }
  void Event(const std::string& line, uint64_t tick) {
    if (!active()) return;
    Flush();
    char when[32];
    std::snprintf(when, sizeof when, "  # %.3f s", static_cast<double>(tick * kTickMs) / 1000.0);
    file_.Write(line + when + '\n');
  }
  void Tick() { ++idle_; }
  void Close() {
    if (!active()) return;
    Flush();
    file_.Close();
  }

 private:
  void Flush() {
    if (idle_ > 0) file_.Write("tick " + std::to_string(idle_) + '\n');
    idle_ = 0;
  }
  RecordFile file_;
  uint64_t idle_ = 0;
};

class Live {
 public:
  Live(const LiveOptions& o, std::ostream& out, std::ostream& err)
      : o_(o), out_(out), err_(err), watch_(o), host_(clock_, [this](const std::string& line) {
          Print(NamedAction(line));
        }) {}

  int Run() {
    // From the start, so that a session ended early still ends cleanly.
    CatchStopRequests(o_);
    std::error_code ec;
    if (!o_.record.empty() && !o_.force &&
        fs::symlink_status(o_.record, ec).type() != fs::file_type::not_found) {
      err_ << "pendant-bench: " << o_.record
           << " exists; choose another file, or give --force to replace it\n";
      return 1;
    }
    if (!host_.Load(o_.module, &error_)) {
      err_ << "pendant-bench: " << error_ << '\n';
      return 1;
    }
    if (!o_.record.empty() && !recorder_.Open(o_.record, o_.force, &error_)) {
      err_ << "pendant-bench: cannot write " << o_.record << ": " << error_ << '\n';
      return 1;
    }
    // The bench build of the module has no device layer of its own: the
    // bench hands it what it reads from the pendant.
    bus_ = host_.Bus();
    if (bus_ != nullptr) {
      bus_->Reset();
      bus_->SetClock(&clock_);
    }
    SetUpDemoMachine(host_.state(), host_.machine());
    const std::string profile = o_.profile.empty() ? DefaultProfilePath() : o_.profile;
    fs::create_directories(fs::path(profile).parent_path(), ec);
    RecordSetUp(profile);

    const std::string node = watch_.Find();
    if (node.empty()) {
      recorder_.Line("pendant absent");
    } else if (bus_ != nullptr) {
      pendant_ = bus_->AddDevice(kVirtualPendantPath, kPendantVendorId, kPendantProductId);
    }
    recorder_.Line("start");
    out_ << "pendant-bench live: " << host_.Start(profile) << "\nprofile " << profile << '\n';
    std::string problem;
    if (host_.ProfileOutcome(&problem) && problem.rfind("loaded; ", 0) == 0)
      out_ << "the profile loaded; " << problem.substr(8) << '\n';
    else if (!problem.empty())
      out_ << "the settings cannot be read: " << problem
           << "; the plug-in runs on its default settings and leaves the file untouched\n";
    if (node.empty()) {
      out_ << "waiting for the pendant (USB vendor 04d8, product fce7); plug it in, Ctrl-C stops\n";
    } else if (Connected(node, true)) {
      out_ << "the display shows on the pendant; Ctrl-C stops\n";
    } else {
      out_ << "Ctrl-C stops\n";
    }
    out_.flush();

    Loop();
    host_.Stop();
    recorder_.Line("stop");
    recorder_.Close();
    Print("plug-in stopped");
    if (!o_.record.empty() && o_.replayable)
      out_ << "recorded to " << o_.record << "; replay: pendant-bench run " << o_.record << '\n';
    else if (!o_.record.empty())
      out_ << "recorded to " << o_.record << "; send it with the problem report: a build from "
           << "source replays it (pendant-bench run " << o_.record << ")\n";
    return 0;
  }

 private:
  void Loop() {
    using std::chrono::steady_clock;
    const steady_clock::time_point t0 = steady_clock::now();
    std::string shownPositions;
    while (!StopRequested()) {
      // Sleep to the next tick, handling the module's own events meanwhile.
      const steady_clock::time_point due = t0 + std::chrono::milliseconds((tick_ + 1) * kTickMs);
      for (auto now = steady_clock::now(); now < due && !StopRequested(); now = steady_clock::now())
        host_.Wait(
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
      if (StopRequested()) break;
      if (tick_ % kPresenceTicks == 0) CheckPresence();
      ReadReports();
      host_.Cycle();
      host_.Update(1);
      recorder_.Tick();
      ++tick_;
      if (tick_ % kPresenceTicks == 0) {
        double pos[6];
        for (int i = 0; i < 6; ++i) pos[i] = host_.machine().Position(i);
        const std::string positions = PositionsLine(pos, 4);
        if (positions != shownPositions) {
          Print("machine: " + positions);
          shownPositions = positions;
        }
      }
    }
  }

  void CheckPresence() {
    const std::string node = watch_.Find();
    if (node == node_) return;
    if (!node_.empty()) Disconnected();
    if (!node.empty()) Connected(node, false);
  }

  // False when the bench cannot read the pendant's input.
  bool Connected(const std::string& node, bool atStart) {
    node_ = node;
    std::string why;
    std::string hint;
    const bool readable = watch_.Open(node, &why, &hint);
    if (readable) {
      Print("pendant connected at " + node);
    } else {
      Print("cannot read the pendant's input at " + node + ": " + why);
      out_ << hint;
    }
    if (atStart) return readable;  // attached from the start
    recorder_.Event("plug", tick_);
    if (bus_ == nullptr) return readable;
    if (pendant_ < 0) {
      pendant_ = bus_->AddDevice(kVirtualPendantPath, kPendantVendorId, kPendantProductId);
      bus_->Unplug(pendant_, false);
    }
    bus_->Plug(pendant_, true);
    return readable;
  }

  void Disconnected() {
    Print("pendant disconnected");
    watch_.Close();
    node_.clear();
    recorder_.Event("unplug", tick_);
    if (bus_ != nullptr && pendant_ >= 0) bus_->Unplug(pendant_, true);
  }

  void ReadReports() {
    if (node_.empty()) return;
    std::vector<LiveReport> reports;
    if (!watch_.Read(&reports)) {
      Disconnected();
      return;
    }
    for (const auto& r : reports) {
      recorder_.Event("report " + Hex(r.data(), r.size()), tick_);
      if (bus_ != nullptr && pendant_ >= 0) bus_->QueueInput(pendant_, r.data(), r.size());
      if (o_.raw && rawInPlace_) {
        out_ << '\r' << RawLine(r.data());
        out_.flush();
        rawShown_ = true;
      } else if (o_.raw) {
        // Into a file or pipe: one plain line a report, no terminal escapes.
        out_ << RawLine(r.data()) << '\n';
        out_.flush();
      }
    }
  }

  // The live host's starting point, so that a replay starts from the same.
  void RecordSetUp(const std::string& profile) {
    if (!recorder_.active()) return;
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    recorder_.Line(std::string("# pendant-bench live --record, ") + when + "; one tick is 25 ms");
    recorder_.Line("# replay: pendant-bench run FILE");
    std::vector<std::pair<std::string, std::string>> keys;
    std::string error;
    if (ReadPendantSection(profile, &keys, &error)) {
      for (const auto& [key, value] : keys)
        recorder_.Line("profile " + key + " " + (value.empty() ? "\"\"" : value));
    } else {
      recorder_.Line("# the profile could not be read: " + error);
    }
    for (const std::string& line : DemoMachineScenario()) recorder_.Line(line);
  }

  void EndRawLine() {
    if (!rawShown_) return;
    out_ << '\n';
    rawShown_ = false;
  }

  void Print(const std::string& line) {
    EndRawLine();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%9.3f s] ", static_cast<double>(tick_ * kTickMs) / 1000.0);
    out_ << stamp << line << '\n';
    out_.flush();
  }

  const LiveOptions& o_;
  std::ostream& out_;
  std::ostream& err_;
  std::string error_;
  Recorder recorder_;
  PendantWatch watch_;
  // Virtual time, moved in 25 ms ticks in step with the real clock, so that
  // the cycles and Update calls interleave exactly as a replay does.
  platform::VirtualClock clock_;
  BenchHost host_;
  platform::VirtualBus* bus_ = nullptr;
  int pendant_ = -1;
  std::string node_;
  uint64_t tick_ = 0;
  bool rawShown_ = false;
  const bool rawInPlace_ = sys::StdoutIsTerminal();
};

}  // namespace

int RunLive(const LiveOptions& options, std::ostream& out, std::ostream& err) {
  Live live(options, out, err);
  return live.Run();
}

}  // namespace km4r::bench
