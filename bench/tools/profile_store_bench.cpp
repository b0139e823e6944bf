// The profile store's cost against the XML library's own: one store
// lifetime (load, read the pendant settings, write them, save) on a 1 MB host
// profile next to pugixml parsing, serialising and writing the same file with
// an fsync; and the peak memory of one store lifetime on a 50 MB profile.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <string>

#include "bench/tools/profile_generator.h"
#include "plugin/module_state.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"

namespace {

std::string WriteProfile(const char* name, std::size_t bytes) {
  auto dir = std::filesystem::temp_directory_path() / "km4r_store_bench";
  std::filesystem::create_directories(dir);
  std::string path = (dir / name).string();
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << km4r::bench::GenerateHostProfile(bytes, true);
  return path;
}

void StoreLifetime(benchmark::State& state) {
  const std::string path = WriteProfile("store.xml", std::size_t{1} << 20);
  km4r::Module().profilePath = path;
  km4r::PendantSettings settings;
  for (auto _ : state) {
    km4r::ProfileStore store;
    km4r::LoadPendantSettings(store, settings);
    // A changed value, as a confirmed dialog gives: an unchanged profile
    // would not be written at all.
    settings.StepSize1 = settings.StepSize1 == 1 ? 2 : 1;
    km4r::SavePendantSettings(store, settings);
    benchmark::DoNotOptimize(settings);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}
BENCHMARK(StoreLifetime)->Unit(benchmark::kMillisecond);

struct FdWriter : pugi::xml_writer {
  int fd;
  explicit FdWriter(int f) : fd(f) {}
  void write(const void* data, std::size_t size) override {
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  }
};

// pugixml on its own: parse the file, serialise it to a file, fsync. Arg 0:
// pugixml's default options; arg 1: the options the store needs (every node
// kept, text as written).
void LibraryParseSerialiseFsync(benchmark::State& state) {
  const std::string path = WriteProfile("library.xml", std::size_t{1} << 20);
  const std::string out = path + ".out";
  const bool keepAll = state.range(0) == 1;
  const unsigned parse = keepAll ? pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                       pugi::parse_declaration | pugi::parse_doctype |
                                       pugi::parse_ws_pcdata
                                 : pugi::parse_default;
  const unsigned format =
      keepAll ? pugi::format_raw | pugi::format_no_escapes | pugi::format_no_declaration
              : pugi::format_default;
  for (auto _ : state) {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str(), parse)) std::abort();
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FdWriter w(fd);
    doc.save(w, "\t", format);
    if (::fsync(fd) != 0) std::abort();
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
  std::filesystem::remove(out);
}
BENCHMARK(LibraryParseSerialiseFsync)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

// Peak resident memory of one store lifetime on a 50 MB profile, as a
// multiple of the file's size.
void StorePeakMemory50MB(benchmark::State& state) {
  const std::string path = WriteProfile("big.xml", std::size_t{50} << 20);
  const double size = static_cast<double>(std::filesystem::file_size(path));
  km4r::Module().profilePath = path;
  double peak = 0;
  for (auto _ : state) {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";  // restarts the peak at the current size
    const long before = StatusKb("VmRSS:");
    {
      km4r::PendantSettings settings;
      km4r::ProfileStore store;
      km4r::LoadPendantSettings(store, settings);
      km4r::SavePendantSettings(store, settings);
    }
    peak = static_cast<double>(StatusKb("VmHWM:") - before) * 1024.0 / size;
  }
  state.counters["peak_x_size"] = peak;
  state.counters["size_MB"] = size / (1 << 20);
  std::filesystem::remove(path);
}
BENCHMARK(StorePeakMemory50MB)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
