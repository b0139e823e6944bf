// One profile store lifetime (load, read the pendant settings, save) on a
// profile of about 1 MB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "plugin/module_state.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"
#include "tests/settings/profile_generator.h"

namespace {

void StoreLifetime(benchmark::State& state) {
  auto dir = std::filesystem::temp_directory_path() / "km4r_store_bench";
  std::filesystem::create_directories(dir);
  std::string path = (dir / "profile.xml").string();
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << km4r::test::GenerateHostProfile(std::size_t{1} << 20, true);
  }
  km4r::Module().profilePath = path;
  km4r::PendantSettings settings;
  for (auto _ : state) {
    km4r::ProfileStore store;
    km4r::LoadPendantSettings(store, settings);
    benchmark::DoNotOptimize(settings);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(StoreLifetime)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
