// pendant-bench: a host of our own for the pendant plug-in.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bench/commands.h"
#include "bench/profile_edit.h"
#include "bench/scenario_runner.h"
#include "bench/system.h"

namespace fs = std::filesystem;
using namespace km4r::bench;

namespace {

// The help texts name the files of the platform they run on.
#if defined(_WIN32)
#define SEP "\\"
#define MODULE_SUFFIX ".dll"
#define PLATFORM_NAME "Windows"
#else
#define SEP "/"
#define MODULE_SUFFIX ".so"
#define PLATFORM_NAME "Linux"
#endif

const char kUsage[] =
    "usage: pendant-bench COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  run [--plugin PATH] SCENARIO...   run scenario files, print their traces\n"
    "  demo [--plugin PATH] [--pace]     play a built-in session on the virtual pendant\n"
    "  live [--plugin PATH] [--profile FILE] [--raw] [--record FILE [--force]]\n"
    "                                    drive the plug-in with a real pendant\n"
    "  config [--plugin PATH] [--profile FILE]\n"
    "                                    edit the pendant settings in the dialog\n"
    "  find-profile FOLDER               list the profiles under FOLDER that hold\n"
    "                                    the pendant's settings\n"
    "  --version                         this program's version\n"
    "\n"
    "'pendant-bench COMMAND --help' describes a command.\n";

const char kRunHelp[] =
    "usage: pendant-bench run [--plugin PATH] SCENARIO...\n"
    "\n"
    "Runs each scenario file in a fresh host (fresh host blocks, a fresh profile in a\n"
    "fresh temporary directory, a freshly loaded module, the virtual pendant attached)\n"
    "and prints its trace to standard output. Every file is parsed completely before\n"
    "any of it runs. With more than one file each trace is preceded by '# FILE'.\n"
    "\n"
    "Exit status: 0 when every file ran; 2 when a line could not be parsed\n"
    "('FILE:LINE: message' on standard error; nothing of that file runs); 1 when a\n"
    "file could not be read (directories, devices and pipes are refused, and files\n"
    "over 1 MiB), the module could not be loaded or the host failed.\n"
    "\n"
    "  --plugin PATH   the module to load (default: the bench build of the plug-in,\n"
    "                  virtual" SEP "KM4R" MODULE_SUFFIX
    " beside this program, which a build\n"
    "                  from source makes; the Windows release zip has none)\n"
    "\n"
    "Scenario language: one command a line, '#' starts a comment.\n"
    "  profile KEY VALUE     set KEY in the pendant's profile section (\"\" = empty)\n"
    "  start                 setters, SetProName, InitControl, PostInitControl\n"
    "  config                Config, dialog cancelled\n"
    "  stop                  StopPlug\n"
    "  pendant absent        (before start) no pendant is attached\n"
    "  unplug | plug         the pendant leaves | comes back, with a device message\n"
    "  plug-other            an unrelated HID device arrives\n"
    "  report B0 .. B7       queue one input report (two-digit hex bytes)\n"
    "  latency MS            delay from a read's start to its completion\n"
    "  led CODE on|off       dro CODE VALUE       field NAME VALUE\n"
    "  cycle [N]             N pendant cycles of 25 ms virtual time\n"
    "  update [N]            N host Update calls\n"
    "  tick [N]              N times a cycle, then an Update call (as 'live' runs and\n"
    "                        records)\n"
    "  machine on|off        the simulated machine follows the plug-in's actions\n"
    "  machine follow-step-size on|off\n"
    "                        the machine takes DRO 828 as its step increment\n"
    "  show display|report|status|profile, show dro CODE\n"
    "  show jog AXIS         the axis's jog record; AXIS is X, Y, Z, A, B, C or 0 to 5\n"
    "\n"
    "Fields: motionQueueIn motionQueueOut resetIndicator distanceMode rotationAngle\n"
    "bufferQueueIn bufferQueueOut axisVelocityLimit[i] axisJogParam[i] stepIncrement\n"
    "busyIndicator (i 0 to 5).\n"
    "\n"
    "The simulated machine applies incremental moves, runs continuous jogs at the\n"
    "jog record's speed (units per minute) from DOJOG to ENDJOG, zeroes X, Y, Z, A\n"
    "on buttons 1008-1011 and toggles LED 800 on button 1021; DROs 800-805 are its\n"
    "positions.\n";

const char kDemoHelp[] =
    "usage: pendant-bench demo [--plugin PATH] [--pace]\n"
    "\n"
    "Starts the plug-in with the virtual pendant and a simulated machine and plays a\n"
    "built-in session: step jogging on X and Y, a step-size change, a continuous jog,\n"
    "a feed-override change, an axis zero and the E-stop. After each step it shows\n"
    "the pendant's display, the host actions and the machine's positions. Time is\n"
    "virtual, so the session takes a moment.\n"
    "\n"
    "  --plugin PATH   the module to load (default: virtual" SEP "KM4R" MODULE_SUFFIX
    " beside this\n"
    "                  program, as for 'run')\n"
    "  --pace          pause briefly between steps so they can be followed\n";

const char kLiveHelp[] =
    "usage: pendant-bench live [--plugin PATH] [--profile FILE] [--raw] [--record FILE [--force]]\n"
    "\n"
    "Runs the plug-in with a real pendant (USB vendor 04d8, product fce7), with the\n"
    "simulated machine and real time, until Ctrl-C. It waits for the pendant when\n"
    "none is attached, says when it is connected and disconnected, and prints the\n"
    "host actions as they happen, with the meaning of their codes, and the\n"
    "machine's positions; the display shows on the pendant itself.\n"
    "\n"
#if defined(_WIN32)
    "The pendant is found among the system's HID devices (Device Manager lists it as\n"
    "VID_04D8&PID_FCE7) and read beside the plug-in. Ctrl-C, Ctrl-Break and closing\n"
    "the console window end the session cleanly.\n"
    "\n"
    "  --plugin PATH   the module to load (default: KM4R.dll beside this program);\n"
    "                  the bench build (virtual\\KM4R.dll) is fed what the bench reads\n"
#else
    "The pendant is read through the hidraw device layer. Ctrl-C, SIGTERM and a\n"
    "closed terminal (SIGHUP) end the session cleanly. If the pendant is attached\n"
    "but cannot be opened, install the udev rule bench/udev/60-km4r-pendant.rules\n"
    "(see README).\n"
    "\n"
    "  --plugin PATH   the module to load (default: ../plugin/KM4R.so from this program);\n"
    "                  the bench build (virtual/KM4R.so) is fed what the bench reads\n"
#endif
    "  --profile FILE  the settings to run on (default: the bench's own profile, as\n"
    "                  'config' without --profile; a host's profile is read the same)\n"
    "  --raw           show each input report decoded: selector positions, mode, wheel\n"
    "                  counter and speed, E-stop and switch (on a terminal one refreshing\n"
    "                  line, otherwise one line a report)\n"
    "  --record FILE   write the session (settings, input reports, plugs and unplugs,\n"
    "                  in 25 ms ticks) as a scenario, which 'pendant-bench run FILE'\n"
    "                  replays where the bench build of the plug-in is (see 'run --help').\n"
    "                  Each event is written as it happens. An existing FILE is refused.\n"
#if defined(_WIN32)
    // --test-devices DIR, for the tests only, is not for users: instead of the
    // system's HID devices, one device a file in DIR ('VVVV PPPP PATH': vendor
    // and product ids in hex, the named pipe to open); a file named 'stop' in
    // DIR ends the session as Ctrl-Break does.
    "  --force         with --record: replace an existing FILE\n";
#else
    "  --force         with --record: replace an existing FILE\n"
    "  --sysfs DIR     where to look for hidraw devices (default /sys/class/hidraw)\n"
    "  --dev DIR       where their device nodes are (default /dev)\n";
#endif

// The options that point live at other devices than the system's.
#if defined(_WIN32)
const std::vector<std::string> kLiveDeviceOptions = {"--test-devices"};
#else
const std::vector<std::string> kLiveDeviceOptions = {"--sysfs", "--dev"};
#endif

const char kConfigHelp[] =
    "usage: pendant-bench config [--plugin PATH] [--profile FILE]\n"
    "\n"
    "Opens the plug-in's configuration dialog on a profile, so that the pendant\n"
    "settings can be edited without touching the XML. OK saves the edited settings\n"
    "('saved PATH'); Cancel (Esc) keeps them as they were loaded ('cancelled'). When\n"
    "the plug-in cannot read or write the profile it says 'not saved: REASON', as\n"
    "the plug-in reports it, and exits 1; an unreadable profile is refused before\n"
    "the dialog opens.\n"
    "\n"
    "The host keeps the pendant's settings in its own profile, the XML file it hands\n"
    "the plug-in. Without --profile this command edits the bench's own profile, which\n"
    "only 'live' reads, and says so before the dialog opens. To find the host's\n"
    "profile, open the plug-in's configuration in the host once (OK or Esc), close\n"
    "the host, then run 'pendant-bench find-profile FOLDER' on the host's folder.\n"
    "\n"
    "  --plugin PATH    the module to load (default: KM4R.so or KM4R.dll beside this\n"
    "                   program, else ../plugin/ from it)\n"
    "  --profile FILE   the profile (default on Linux: $XDG_CONFIG_HOME/km4r-pendant/profile.xml\n"
    "                   or ~/.config/km4r-pendant/profile.xml; on Windows:\n"
    "                   %APPDATA%\\km4r-pendant\\profile.xml; created if missing)\n";

const char kFindProfileHelp[] =
    "usage: pendant-bench find-profile FOLDER\n"
    "\n"
    "Lists the XML files under FOLDER, and in its subfolders, that hold the pendant's\n"
    "settings (the section Quorvix_KM4R_Pendant), one a line: run on the host's\n"
    "folder, once the plug-in's configuration has been opened in the host, it names\n"
    "the host's profile for 'config --profile' and 'live --profile'. Exit status 1\n"
    "when there is none.\n";

int FindProfile(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
    return std::cout << kFindProfileHelp, 0;
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::cerr << "pendant-bench find-profile: give one FOLDER\n" << kFindProfileHelp;
    return 2;
  }
  std::error_code ec;
  if (!fs::is_directory(args[0], ec)) {
    std::cerr << "pendant-bench find-profile: " << args[0] << " is not a folder\n";
    return 2;
  }
  const std::vector<std::string> found = FindProfiles(args[0]);
  for (const std::string& path : found) std::cout << path << '\n';
  if (!found.empty()) return 0;
  std::cerr << "pendant-bench find-profile: no XML file under " << args[0] << " holds "
            << kPendantSection
            << ".\nOpen the plug-in's configuration in the host once (OK or Esc), close the "
               "host,\nand look again.\n";
  return 1;
}

// Without --profile the user may believe the host is configured.
void SayWhoseProfile(const std::string& profile) {
  std::cout << "no --profile given: this edits the bench's own profile\n  " << profile
            << "\nwhich the host does not read. To set up the pendant for the host, give "
               "--profile\nwith the host's profile ('pendant-bench config --help' tells how to "
               "find it).\n";
  std::cout.flush();
}

std::string ModuleFile() {
  return std::string("KM4R") + sys::ModuleSuffix();
}
std::string VirtualModule() {
  return (sys::ExecutableDir() / "virtual" / ModuleFile()).string();
}
bool HasVirtualModule() {
  std::error_code ec;
  return fs::is_regular_file(VirtualModule(), ec);
}
// run and demo need the bench build of the module; without one beside the
// program they say so instead of failing to load it.
bool NeedVirtualModule(const std::string& command, const std::string& plugin) {
  if (!plugin.empty() || HasVirtualModule()) return true;
  std::cerr << "pendant-bench " << command << ": no virtual-pendant module at " << VirtualModule()
            << "\n'run' and 'demo' need this bench build of the plug-in, which a build from "
               "source makes\nbeside the program; the Windows release zip has none"
#if defined(_WIN32)
               " ('live' and 'config'\nwork with the KM4R.dll beside the program)"
#endif
               ". Give --plugin PATH to load a bench\nbuild from elsewhere.\n";
  return false;
}
// The module beside the program (as the Windows package places them), else
// the build tree's plugin/.
std::string RealModule() {
  const fs::path beside = sys::ExecutableDir() / ModuleFile();
  std::error_code ec;
  if (fs::is_regular_file(beside, ec)) return beside.string();
  return (sys::ExecutableDir().parent_path() / "plugin" / ModuleFile()).lexically_normal().string();
}

struct Options {
  std::string plugin;
  std::string profile;
  bool profileGiven = false;
  bool version = false;
  std::string sysfs = "/sys/class/hidraw";
  std::string dev = "/dev";
  std::string testDevices;
  std::string record;
  bool raw = false;
  bool force = false;
  bool pace = false;
  bool help = false;
  std::vector<std::string> files;
};

// Parses the options a command accepts; false (with a message) otherwise.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                  bool takesFiles, Options* o) {
  auto allows = [&allowed](const std::string& a) {
    for (const auto& x : allowed)
      if (x == a) return true;
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (allows(a) && (a == "--plugin" || a == "--profile" || a == "--sysfs" ||
                             a == "--dev" || a == "--test-devices" || a == "--record")) {
      if (i + 1 >= args.size()) {
        std::cerr << "pendant-bench: " << a << " needs a value\n";
        return false;
      }
      const std::string& v = args[++i];
      if (v.empty()) {
        std::cerr << "pendant-bench: " << a << " needs a value, got an empty one\n";
        return false;
      }
      (a == "--plugin"    ? o->plugin
       : a == "--profile" ? o->profile
       : a == "--sysfs"   ? o->sysfs
       : a == "--dev"     ? o->dev
       : a == "--record"  ? o->record
                          : o->testDevices) = v;
      if (a == "--profile") o->profileGiven = true;
    } else if (allows(a) && a == "--pace") {
      o->pace = true;
    } else if (allows(a) && a == "--raw") {
      o->raw = true;
    } else if (allows(a) && a == "--force") {
      o->force = true;
    } else if (takesFiles && (a.empty() || a[0] != '-')) {
      o->files.push_back(a);
    } else {
      std::cerr << "pendant-bench: unknown option '" << a << "'\n";
      return false;
    }
  }
  return true;
}

int Run(const Options& o) {
  if (o.files.empty()) {
    std::cerr << "pendant-bench run: no scenario file given\n" << kRunHelp;
    return 2;
  }
  const std::string module = o.plugin.empty() ? VirtualModule() : o.plugin;
  int worst = kRunOk;
  for (const std::string& file : o.files) {
    if (o.files.size() > 1) std::cout << "# " << file << '\n';
    const int rc = RunScenarioFile(file, module, std::cout, std::cerr);
    std::cout.flush();
    if (rc == kRunParseError || (rc == kRunFailed && worst == kRunOk)) worst = rc;
  }
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  sys::UseBinaryStdio();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version" || args[0] == "version") {
    std::cout << "pendant-bench " KM4R_BENCH_VERSION " (" PLATFORM_NAME ", " << sizeof(void*) * 8
              << "-bit)\n";
    return 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  Options o;
  if (command == "run") {
    if (!ParseOptions(args, {"--plugin"}, true, &o)) return 2;
    if (o.help) return std::cout << kRunHelp, 0;
    if (!NeedVirtualModule(command, o.plugin)) return 1;
    return Run(o);
  }
  if (command == "demo") {
    if (!ParseOptions(args, {"--plugin", "--pace"}, false, &o)) return 2;
    if (o.help) return std::cout << kDemoHelp, 0;
    if (!NeedVirtualModule(command, o.plugin)) return 1;
    return RunDemo(o.plugin.empty() ? VirtualModule() : o.plugin, o.pace ? 700 : 0, std::cout,
                   std::cerr);
  }
  if (command == "live") {
    std::vector<std::string> allowed = {"--plugin", "--profile", "--raw", "--record", "--force"};
    allowed.insert(allowed.end(), kLiveDeviceOptions.begin(), kLiveDeviceOptions.end());
    if (!ParseOptions(args, allowed, false, &o)) return 2;
    if (o.help) return std::cout << kLiveHelp, 0;
    if (o.force && o.record.empty()) {
      std::cerr << "pendant-bench: --force goes with --record FILE\n";
      return 2;
    }
    LiveOptions live;
    live.module = o.plugin.empty() ? RealModule() : o.plugin;
    live.sysfs = o.sysfs;
    live.dev = o.dev;
    live.testDevices = o.testDevices;
    live.raw = o.raw;
    live.record = o.record;
    live.force = o.force;
    live.profile = o.profile;
    live.replayable = HasVirtualModule();
    return RunLive(live, std::cout, std::cerr);
  }
  if (command == "find-profile") return FindProfile(args);
  if (command == "config") {
    if (!ParseOptions(args, {"--plugin", "--profile"}, false, &o)) return 2;
    if (o.help) return std::cout << kConfigHelp, 0;
    if (!o.profileGiven) SayWhoseProfile(DefaultProfilePath());
    return RunConfig(o.plugin.empty() ? RealModule() : o.plugin,
                     o.profileGiven ? o.profile : DefaultProfilePath(), std::cout, std::cerr);
  }
  std::cerr << "pendant-bench: unknown command '" << command << "'\n" << kUsage;
  return 2;
}
