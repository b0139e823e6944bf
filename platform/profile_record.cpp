// The recovery record an in-place save leaves beside the profile.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/profile_file.h"

namespace km4r::platform {

namespace {
constexpr char kSignature[] = "KM4R profile recovery record 1\n";
}

std::uint64_t TextDigest(const char* data, std::size_t size, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (std::size_t i = 0; i < size; ++i)
    h = (h ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
  return h;
}

std::string RecoveryRecord(const std::string& replaced, const std::string& written) {
  char line[128];
  std::snprintf(line, sizeof line, "%zu %016" PRIx64 " %zu %016" PRIx64 "\n", replaced.size(),
                TextDigest(replaced.data(), replaced.size()), written.size(),
                TextDigest(written.data(), written.size()));
  std::string record = kSignature;
  record.reserve(record.size() + 128 + replaced.size() + written.size());
  return record.append(line).append(replaced).append(written);
}

bool ParseRecoveryRecord(const std::string& file, std::string* replaced, std::string* written) {
  const std::size_t signature = sizeof kSignature - 1;
  if (file.compare(0, signature, kSignature) != 0) return false;
  const std::size_t eol = file.find('\n', signature);
  if (eol == std::string::npos || eol - signature > 100) return false;
  const std::string line = file.substr(signature, eol - signature);
  unsigned long long oldSize = 0, newSize = 0;
  std::uint64_t oldDigest = 0, newDigest = 0;
  char end = 0;
  if (std::sscanf(line.c_str(), "%llu %" SCNx64 " %llu %" SCNx64 "%c", &oldSize, &oldDigest,
                  &newSize, &newDigest, &end) != 4)
    return false;
  const std::size_t body = eol + 1;
  if (file.size() - body != oldSize + newSize) return false;
  if (TextDigest(file.data() + body, oldSize) != oldDigest ||
      TextDigest(file.data() + body + oldSize, newSize) != newDigest)
    return false;
  replaced->assign(file, body, oldSize);
  written->assign(file, body + oldSize, newSize);
  return true;
}

std::string TemporaryName(unsigned long pid, std::uint64_t digest, int attempt) {
  char name[64];
  std::snprintf(name, sizeof name, "km4r-%lu-%016" PRIx64 "-%d.tmp", pid, digest, attempt);
  return name;
}

bool ParseTemporaryName(const std::string& name, unsigned long* pid, std::uint64_t* digest) {
  int attempt = 0, used = 0;
  char digits[17] = "";
  if (std::sscanf(name.c_str(), "km4r-%lu-%16[0-9a-f]-%d.tmp%n", pid, digits, &attempt, &used) !=
          3 ||
      static_cast<std::size_t>(used) != name.size() || std::strlen(digits) != 16)
    return false;
  *digest = std::strtoull(digits, nullptr, 16);
  return name == TemporaryName(*pid, *digest, attempt);
}

}  // namespace km4r::platform
