// Hand edits of the host profile, as a user with a text editor would make
// them, and a look at the pendant's section.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace km4r::bench {

inline constexpr const char* kPendantSection = "Quorvix_KM4R_Pendant";

// Sets the text of KEY in the pendant's section, creating the file, the
// "profile" root, the section and the key as needed; the first section and
// key of that name are the ones edited, as the plug-in reads them. Refuses
// (and leaves the file alone) when the file exists but is not XML.
bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error);

// The pendant section's keys and texts in file order; empty when the file or
// the section is missing. Fails when the file exists but is not XML.
bool ReadPendantSection(const std::string& path,
                        std::vector<std::pair<std::string, std::string>>* keys, std::string* error);

// The XML files under folder (its subfolders too) whose text names the
// pendant's section, in path order: where a host that ran the plug-in's
// configuration keeps its profile. Unreadable folders are passed over.
std::vector<std::string> FindProfiles(const std::string& folder);

}  // namespace km4r::bench
