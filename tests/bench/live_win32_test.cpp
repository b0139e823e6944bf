// live on Windows, end to end: pendant-bench.exe with --test-devices, a
// named pipe standing in for the pendant's HID interface. The pendant is
// absent at first, then plugged, unplugged and plugged again; checks the
// waiting, connect, disconnect and raw lines, replays the recording with
// `run` and compares its host actions with live's; then that an existing
// recording is refused and that a killed session keeps every event.
// Wine delivers no console control event here, so the session is stopped
// through its test stop event, which ends it as Ctrl-Break does.
//   live_win32_test BENCH MODULE WORKDIR
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string g_bench, g_module, g_devices;
int g_failures = 0;

void Fail(const std::string& what, const std::string& context = "") {
  std::printf("FAIL: %s\n%s\n", what.c_str(), context.c_str());
  ++g_failures;
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Has(const std::string& text, const std::string& want) {
  return text.find(want) != std::string::npos;
}

// A bench run, its standard output and error going to files.
struct Bench {
  PROCESS_INFORMATION pi{};
  fs::path out, err;

  Bench(const std::string& args, const fs::path& outFile) : out(outFile), err(outFile) {
    err += ".err";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto open = [&inherit](const fs::path& p) {
      return CreateFileW(p.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = open(out);
    si.hStdError = open(err);
    std::string line = "\"" + g_bench + "\" " + args;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
      Fail("cannot start " + line);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
  }
  ~Bench() {
    if (pi.hProcess == nullptr) return;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  // Waits until standard output holds want `times` times.
  bool Await(const std::string& want, int times = 1) {
    for (int i = 0; i < 600; ++i) {
      const std::string text = ReadAll(out);
      int seen = 0;
      for (std::size_t at = text.find(want); at != std::string::npos; at = text.find(want, at + 1))
        ++seen;
      if (seen >= times) return true;
      if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) break;
    }
    Fail("no '" + want + "' from the bench", ReadAll(out) + ReadAll(err));
    return false;
  }
  // The exit status, or -1 after 60 s.
  int Finish() {
    DWORD rc = 0;
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(pi.hProcess, &rc))
      return -1;
    return static_cast<int>(rc);
  }
  void Stop() {
    char name[64];
    std::snprintf(name, sizeof name, "km4r-bench-stop-%lu", pi.dwProcessId);
    HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (stop == nullptr) Fail(std::string("no stop event ") + name);
    SetEvent(stop);
    CloseHandle(stop);
  }
};

// The pendant: a device file naming a pipe, and the pipe's server end.
class Pendant {
 public:
  Pendant() : pipe_("\\\\.\\pipe\\km4r-live-" + std::to_string(GetCurrentProcessId())) {}
  ~Pendant() { Unplug(); }
  const std::string& path() const { return pipe_; }

  void Plug(Bench& bench, int times) {
    Unplug();
    server_ = CreateNamedPipeA(pipe_.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    std::ofstream(fs::path(g_devices) / "pendant") << "04d8 fce7 " << pipe_ << '\n';
    if (!bench.Await("pendant connected at " + pipe_, times)) return;
    OVERLAPPED o{};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const bool now = ConnectNamedPipe(server_, &o) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!now && WaitForSingleObject(o.hEvent, 20000) != WAIT_OBJECT_0)
      Fail("the bench never opened the pipe");
    CloseHandle(o.hEvent);
  }
  void Unplug() {
    fs::remove(fs::path(g_devices) / "pendant");
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
  }
  void Report(const char* hex) {
    uint8_t r[8];
    std::istringstream in(hex);
    for (uint8_t& b : r) {
      unsigned v = 0;
      in >> std::hex >> v;
      b = static_cast<uint8_t>(v);
    }
    OVERLAPPED o{};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!WriteFile(server_, r, sizeof r, nullptr, &o) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(server_, &o, &n, TRUE)))
      Fail(std::string("cannot send report ") + hex);
    CloseHandle(o.hEvent);
    Sleep(100);
  }

 private:
  std::string pipe_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
};

// The host actions of a trace, with live's time stamps and code meanings cut.
std::string Actions(const std::string& trace) {
  std::istringstream in(trace);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.rfind("[", 0) == 0 && line.find("] ") != std::string::npos)
      line = line.substr(line.find("] ") + 2);
    const bool code = line.rfind("Code ", 0) == 0;
    if (!code && line.rfind("DoButton ", 0) != 0 && line.rfind("SetDRO ", 0) != 0) continue;
    if (!code && line.back() == ')') line = line.substr(0, line.rfind(" ("));
    out += line + '\n';
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: live_win32_test BENCH MODULE WORKDIR\n");
    return 2;
  }
  g_bench = argv[1];
  g_module = argv[2];
  const fs::path dir = argv[3];
  fs::remove_all(dir);
  g_devices = (dir / "devices").string();
  fs::create_directories(g_devices);
  fs::create_directories(dir / "appdata");
  SetEnvironmentVariableW(L"APPDATA", (dir / "appdata").wstring().c_str());
  const std::string live =
      "live --plugin \"" + g_module + "\" --test-devices \"" + g_devices + "\"";
  const fs::path rec = dir / "rec.scn";

  Pendant pendant;
  {
    Bench bench(live + " --raw --record \"" + rec.string() + "\"", dir / "live.out");
    bench.Await("waiting for the pendant");
    pendant.Plug(bench, 1);
    for (const char* r : {"00 00 00 81 01 00 00 00",   // mode 2, axis X, step jog
                          "00 03 08 81 01 00 00 00",   // three detents
                          "00 08 08 81 01 00 00 00",   // five more
                          "00 08 00 81 01 00 00 00",   //
                          "00 08 00 82 01 00 00 00",   // axis Y
                          "00 04 06 82 01 00 00 00",   // four back
                          "00 04 00 81 04 00 00 00",   // step-size selection
                          "00 05 14 81 04 00 00 00",   //
                          "00 05 00 81 04 00 00 00",   //
                          "00 05 00 81 01 00 00 00",   //
                          "00 07 08 81 01 00 00 00"})  // two detents with the new size
      pendant.Report(r);
    pendant.Unplug();
    bench.Await("pendant disconnected");
    pendant.Plug(bench, 2);
    for (const char* r : {"00 07 00 84 01 00 00 00",  // feed override
                          "00 11 08 84 01 00 00 00",  //
                          "00 11 00 a1 01 00 00 00",  // E-stop
                          "00 11 00 81 01 00 00 00"})
      pendant.Report(r);
    Sleep(300);
    bench.Stop();
    const int rc = bench.Finish();
    const std::string out = ReadAll(bench.out);
    if (rc != 0) Fail("live exited " + std::to_string(rc), out + ReadAll(bench.err));
    if (Has(out, "\x1b")) Fail("terminal escapes in redirected output", out);
    for (const char* want :
         {"waiting for the pendant", "pendant disconnected",
          "raw: axis sel  1  step sel   4  mode 2  wheel   5  speed  20", "(mode change, axis X)",
          "(E-stop)", "(step size)", "plug-in stopped", "recorded to "})
      if (!Has(out, want)) Fail(std::string("live output lacks '") + want + "'", out);
    const std::string recording = ReadAll(rec);
    for (const char* want : {"\npendant absent\n", "\nstart\n", "\nplug  #", "\nunplug  #",
                             "\nreport 00 03 08 81 01 00 00 00  #", "\ntick ", "\nstop\n"})
      if (!Has(recording, want)) Fail(std::string("recording lacks '") + want + "'", recording);

    Bench replay("run --plugin \"" + g_module + "\" \"" + rec.string() + "\"", dir / "replay.out");
    if (replay.Finish() != 0) Fail("replay failed", ReadAll(replay.err));
    const std::string liveActions = Actions(out);
    const std::string replayActions = Actions(ReadAll(replay.out));
    if (!Has(liveActions, "Code \"G91G1")) Fail("live made no move", out);
    if (liveActions != replayActions)
      Fail("the replay's host actions differ from live's",
           "live:\n" + liveActions + "replay:\n" + replayActions);
  }

  {
    const std::string kept = ReadAll(rec);
    Bench refused(live + " --record \"" + rec.string() + "\"", dir / "refused.out");
    const int rc = refused.Finish();
    const std::string err = ReadAll(refused.err);
    if (rc != 1 || !Has(err, "exists; choose another file, or give --force to replace it"))
      Fail("an existing recording was not refused: exit " + std::to_string(rc), err);
    if (ReadAll(rec) != kept) Fail("a refused recording changed the file");
  }

  {
    // The pendant attached from the start; the session killed after a report.
    const fs::path killed = dir / "killed.scn";
    Bench bench(live + " --raw --record \"" + killed.string() + "\"", dir / "killed.out");
    pendant.Plug(bench, 1);
    pendant.Report("00 03 08 81 01 00 00 00");
    // Printed after the event was recorded.
    if (bench.Await("raw: axis sel  1")) TerminateProcess(bench.pi.hProcess, 9);
    WaitForSingleObject(bench.pi.hProcess, 20000);
    if (!Has(ReadAll(killed), "\nreport 00 03 08 81 01 00 00 00  #"))
      Fail("the killed session's recording lacks the report", ReadAll(killed));
  }
  if (g_failures == 0) std::printf("live on Windows: waits, connects, records; replay alike\n");
  return g_failures == 0 ? 0 : 1;
}
