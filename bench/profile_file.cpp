#include "bench/profile_file.h"

#if !defined(KM4R_BENCH_PUGIXML)
#include "bench/profile_text.h"

namespace km4r::bench {

// No XML library in this build: the edits are made on the file's text.
bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error) {
  return xmltext::SetProfileValue(path, key, value, error);
}

bool ReadPendantSection(const std::string& path,
                        std::vector<std::pair<std::string, std::string>>* keys,
                        std::string* error) {
  return xmltext::ReadPendantSection(path, keys, error);
}

}  // namespace km4r::bench

#else
#include <pugixml.hpp>

#include <filesystem>
#include <system_error>

namespace km4r::bench {

namespace {

// Loads path into doc. A missing file is an empty document.
bool Load(const std::string& path, pugi::xml_document* doc, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  const pugi::xml_parse_result r =
      doc->load_file(path.c_str(), pugi::parse_default | pugi::parse_declaration);
  if (!r) {
    *error = "profile " + path + " is not readable XML: " + r.description();
    return false;
  }
  return true;
}

}  // namespace

bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error) {
  pugi::xml_document doc;
  if (!Load(path, &doc, error)) return false;
  pugi::xml_node root = doc.document_element();
  if (!root) root = doc.append_child("profile");
  pugi::xml_node section = root.child(kPendantSection);
  if (!section) section = root.append_child(kPendantSection);
  pugi::xml_node node = section.child(key.c_str());
  if (!node) node = section.append_child(key.c_str());
  // The whole text content is replaced, as an editor would.
  while (node.first_child()) node.remove_child(node.first_child());
  if (!value.empty()) node.append_child(pugi::node_pcdata).set_value(value.c_str());
  if (!doc.save_file(path.c_str())) {
    *error = "cannot write profile " + path;
    return false;
  }
  return true;
}

bool ReadPendantSection(const std::string& path,
                        std::vector<std::pair<std::string, std::string>>* keys,
                        std::string* error) {
  keys->clear();
  pugi::xml_document doc;
  if (!Load(path, &doc, error)) return false;
  pugi::xml_node section = doc.document_element().child(kPendantSection);
  for (pugi::xml_node n = section.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    keys->emplace_back(n.name(), n.child_value());
  }
  return true;
}

}  // namespace km4r::bench

#endif
