#include "bench/profile_edit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/profile_file.h"
#include "platform/xml_document.h"

namespace km4r::bench {

namespace {

// The profile's document; a missing or blank file is an empty one.
std::unique_ptr<platform::XmlDocument> Load(const std::string& path, std::string* error) {
  auto doc = platform::CreateXmlDocument();
  if (!doc) {
    *error = "no XML document on this system";
    return nullptr;
  }
  std::string bytes;
  switch (platform::ReadProfileFile(path, std::size_t{64} << 20, &bytes)) {
    case platform::FileReadResult::Read:
      if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) break;
      if (!doc->Parse(std::move(bytes))) {
        *error = "profile " + path + " is not readable XML";
        return nullptr;
      }
      return doc;
    case platform::FileReadResult::Missing:
      break;
    case platform::FileReadResult::Unreadable:
    case platform::FileReadResult::TooLarge:
      *error = "cannot read profile " + path;
      return nullptr;
  }
  return doc;
}

}  // namespace

bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error) {
  auto doc = Load(path, error);
  if (!doc) return false;
  platform::XmlElement root = doc->DocumentElement();
  if (root == nullptr) root = doc->CreateDocumentElement("profile");
  platform::XmlElement section = doc->FirstChildElement(root, kPendantSection);
  if (section == nullptr) section = doc->AppendChildElement(root, kPendantSection);
  platform::XmlElement node = doc->FirstChildElement(section, key.c_str());
  if (node == nullptr) node = doc->AppendChildElement(section, key.c_str());
  // The whole text content is replaced, as an editor would.
  doc->SetText(node, value.c_str());
  const platform::FileWriteResult written = platform::WriteProfileFile(
      path, [&doc](const platform::WriteBytes& write) { return doc->Serialize(write); },
      [](std::string) { return true; });
  if (!written.written && !written.unchanged) {
    *error = "cannot write profile: " + written.reason;
    return false;
  }
  return true;
}

bool ReadPendantSection(const std::string& path,
                        std::vector<std::pair<std::string, std::string>>* keys,
                        std::string* error) {
  keys->clear();
  auto doc = Load(path, error);
  if (!doc) return false;
  platform::XmlElement root = doc->DocumentElement();
  platform::XmlElement section =
      root == nullptr ? nullptr : doc->FirstChildElement(root, kPendantSection);
  if (section == nullptr) return true;
  for (platform::XmlElement k = doc->FirstChildElement(section, nullptr); k != nullptr;
       k = doc->NextSiblingElement(k))
    keys->emplace_back(doc->Name(k), doc->Text(k));
  return true;
}

std::vector<std::string> FindProfiles(const std::string& folder) {
  namespace fs = std::filesystem;
  // Larger files are no profile the plug-in would read.
  constexpr std::uintmax_t kMaxBytes = 64u << 20;
  const std::string tag = std::string("<") + kPendantSection;
  std::vector<std::string> found;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string ext = it->path().extension().string();
    for (char& c : ext) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    std::error_code fileEc;
    if (ext != ".xml" || !it->is_regular_file(fileEc) || it->file_size(fileEc) > kMaxBytes)
      continue;
    std::ifstream in(it->path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find(tag) != std::string::npos) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace km4r::bench
