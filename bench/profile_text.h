// The profile edits of profile_file.h done on the file's text, for builds
// without an XML library of their own: the pendant section is found by a
// small well-formedness scanner, and an edit replaces or inserts only the
// bytes of one element, leaving everything else in the file as it was.
// Reading follows the same rules as the XML library the Linux bench uses:
// the first section and key of a name count, a key's text is its first
// non-blank text run or CDATA section with entities and line ends decoded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace km4r::bench::xmltext {

using Keys = std::vector<std::pair<std::string, std::string>>;

// The pendant section's keys in document order; false with a reason when the
// text is not well-formed XML or has no document element.
bool PendantSectionKeys(const std::string& xml, Keys* keys, std::string* error);

// Sets KEY's text in the pendant section of xml, creating the section and the
// key as needed (xml empty: a new "profile" document). False, leaving xml
// alone, when the text is not well-formed XML.
bool EditPendantKey(std::string* xml, bool fileExists, const std::string& key,
                    const std::string& value, std::string* error);

// The same on files; see profile_file.h.
bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error);
bool ReadPendantSection(const std::string& path, Keys* keys, std::string* error);

}  // namespace km4r::bench::xmltext
