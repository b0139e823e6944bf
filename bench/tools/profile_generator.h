// A host profile as the host writes them: declaration, comments, CRLF line
// ends, many sections with attributes, entity references, CDATA, empty
// elements and processing instructions, grown to about targetBytes.
#pragma once

#include <cstdio>
#include <string>

namespace km4r::bench {

inline std::string GenerateHostProfile(std::size_t targetBytes, bool withPendantSection) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- machine profile, edited by hand on 2019-03-02 -->\r\n"
      "<?host-profile schema='7'?>\r\n"
      "<profile>\r\n";
  char line[512];
  int section = 0;
  while (out.size() < targetBytes) {
    std::snprintf(line, sizeof line, "  <Section%d name='s%d' kind=\"motor &amp; drive\">\r\n",
                  section, section);
    out += line;
    for (int k = 0; k < 12; ++k) {
      std::snprintf(line, sizeof line, "    <Key%d unit=\"mm\">%d.%03d</Key%d>\r\n", k,
                    section * 7 + k, k * 37 % 1000, k);
      out += line;
    }
    out += "    <Empty/>\r\n    <Spaced  a = \"1\"   b='2' />\r\n";
    out += "    <Script><![CDATA[if (a < b && c > d) { G0 X1 }]]></Script>\r\n";
    out += "    <!-- limits &lt; noted -->\r\n";
    out += "    <Text>1 &lt; 2 &#38; caf&#xE9;\ttab</Text>\r\n";
    out += "    <?tool offset?>\r\n";
    out += "    <Odd note=\"a>b\" other='it\"s'>v</Odd  >\r\n";
    out += "    <Nested><Level2><Level3 deep=\"yes\">x</Level3></Level2></Nested>\r\n";
    out += "  </Section";
    out += std::to_string(section);
    out += ">\r\n";
    if (withPendantSection && section == 40) {
      out +=
          "  <Quorvix_KM4R_Pendant>\r\n"
          "    <StepSize1>4</StepSize1>\r\n"
          "    <DisplyRPM>7</DisplyRPM>\r\n"
          "    <DelaySteps></DelaySteps>\r\n"
          "  </Quorvix_KM4R_Pendant>\r\n";
    }
    ++section;
  }
  out += "</profile>\r\n<!-- end -->\r\n";
  return out;
}

}  // namespace km4r::bench
