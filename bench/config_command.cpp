// `config`: the plug-in's own dialog on a profile (the terminal form on
// Linux, the dialog window on Windows). What became of the settings is what
// the plug-in's store reports, never a guess from the file.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/system.h"
#include "platform/clock.h"

namespace km4r::bench {

namespace fs = std::filesystem;

int RunConfig(const std::string& modulePath, const std::string& profilePath, std::ostream& out,
              std::ostream& err) {
  if (profilePath.empty()) {
    err << "pendant-bench config: the profile path is empty\n";
    return 2;
  }
  std::error_code ec;
  if (fs::is_directory(profilePath, ec)) {
    err << "pendant-bench config: " << profilePath
        << " is a directory; --profile takes the profile file\n";
    return 2;
  }
  // The plug-in writes the file but makes no directories.
  const fs::path dir = fs::path(profilePath).parent_path();
  if (!dir.empty()) {
    fs::create_directories(dir, ec);
    if (ec) {
      err << "pendant-bench config: not saved: cannot create the directory " << dir.string() << ": "
          << ec.message() << '\n';
      return 1;
    }
  }

  platform::VirtualClock clock;
  BenchHost host(clock, [&out](const std::string& line) { out << line << '\n'; });
  std::string error;
  if (!host.Load(modulePath, &error)) {
    err << "pendant-bench: " << error << '\n';
    return 1;
  }
  host.Name(profilePath);
  std::string outcome;
  const bool reports = host.ProfileOutcome(&outcome);
  // A profile the plug-in leaves alone would take no edit: refused before
  // the dialog opens, so that none is made in vain.
  if (outcome.rfind("loaded; ", 0) == 0) {
    out << "the profile loaded; " << outcome.substr(8) << '\n';
  } else if (reports && !outcome.empty()) {
    err << "pendant-bench config: not saved: " << outcome << '\n';
    return 1;
  }
  host.ConfigInteractive();

  out.flush();
  // The terminal form's last prompt may still be open on the line.
  if (!sys::StdinIsTerminal()) out << '\n';
  if (!reports) {
    out << "closed; " << modulePath
        << " does not report what became of the settings (a message box says when they were "
           "not saved)\n";
    return 0;
  }
  host.ProfileOutcome(&outcome);
  // What follows the verdict ("; ...") says what else was written or found.
  const std::size_t end = std::min(outcome.find("; "), outcome.size());
  const std::string verdict = outcome.substr(0, end), more = outcome.substr(end);
  if (verdict == "saved") {
    out << "saved " << profilePath << more << '\n';
    return 0;
  }
  if (verdict == "cancelled") {
    out << "cancelled: no setting changed in " << profilePath
        << (more.empty() ? "; nothing written" : more) << '\n';
    return 0;
  }
  err << "pendant-bench config: "
      << (outcome.empty() ? "not saved: the plug-in's configuration did not finish" : outcome)
      << '\n';
  return 1;
}

}  // namespace km4r::bench
