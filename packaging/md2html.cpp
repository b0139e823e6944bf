// md2html: the user guide as one self-contained HTML page, for the Windows
// package. It knows the Markdown the guide uses and no more: headings,
// paragraphs, "-" and "1." lists, pipe tables (with \| inside cells), fenced
// code blocks, `code`, **bold**, [links](#anchors) and <br> in table cells;
// it leaves out the Linux-only parts (see main). Anything else passes
// through as escaped text, so nothing is ever lost.
//   md2html TITLE < guide.md > guide.html
#include <cctype>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The anchor GitHub gives a heading: lower case, punctuation dropped, blanks
// become hyphens.
std::string Slug(const std::string& heading) {
  std::string out;
  for (unsigned char c : heading) {
    if (std::isalnum(c) != 0) {
      out += static_cast<char>(std::tolower(c));
    } else if (c == ' ' || c == '-') {
      out += '-';
    } else if (c == '_') {
      out += '_';
    }
  }
  return out;
}

std::string Inline(const std::string& s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '\\' && i + 1 < s.size() && std::ispunct(static_cast<unsigned char>(s[i + 1]))) {
      out += Escape(std::string(1, s[i + 1]));
      i += 2;
    } else if (s[i] == '`') {
      const std::size_t end = s.find('`', i + 1);
      if (end == std::string::npos) {
        out += '`';
        ++i;
        continue;
      }
      std::string code = s.substr(i + 1, end - i - 1);
      for (std::size_t at; (at = code.find("\\|")) != std::string::npos;) code.replace(at, 2, "|");
      out += "<code>" + Escape(code) + "</code>";
      i = end + 1;
    } else if (s.compare(i, 2, "**") == 0) {
      const std::size_t end = s.find("**", i + 2);
      if (end == std::string::npos) {
        out += "**";
        i += 2;
        continue;
      }
      out += "<strong>" + Inline(s.substr(i + 2, end - i - 2)) + "</strong>";
      i = end + 2;
    } else if (s[i] == '[') {
      const std::size_t close = s.find("](", i);
      const std::size_t end = close == std::string::npos ? close : s.find(')', close);
      if (end == std::string::npos) {
        out += '[';
        ++i;
        continue;
      }
      out += "<a href=\"" + Escape(s.substr(close + 2, end - close - 2)) + "\">" +
             Inline(s.substr(i + 1, close - i - 1)) + "</a>";
      i = end + 1;
    } else if (s.compare(i, 4, "<br>") == 0) {
      out += "<br>";
      i += 4;
    } else {
      out += Escape(std::string(1, s[i]));
      ++i;
    }
  }
  return out;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Cells of a table row; "\|" does not split.
std::vector<std::string> Cells(std::string row) {
  row = Trim(row);
  if (!row.empty() && row.front() == '|') row.erase(0, 1);
  if (!row.empty() && row.back() == '|' && (row.size() < 2 || row[row.size() - 2] != '\\'))
    row.pop_back();
  std::vector<std::string> cells;
  std::string cell;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
      cell += "\\|";
      ++i;
    } else if (row[i] == '|') {
      cells.push_back(Trim(cell));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  cells.push_back(Trim(cell));
  return cells;
}

bool IsSeparator(const std::string& line) {
  const std::string t = Trim(line);
  return t.size() > 2 && t[0] == '|' && t.find_first_not_of("|-: ") == std::string::npos;
}

bool IsBullet(const std::string& line) {
  return line.size() > 2 && line[0] == '-' && line[1] == ' ';
}

// "12. " starts an ordered item; returns the text's offset, 0 otherwise.
std::size_t OrderedStart(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) != 0) ++i;
  if (i == 0 || i + 1 >= line.size() || line[i] != '.' || line[i + 1] != ' ') return 0;
  return i + 2;
}

bool Blank(const std::string& line) {
  return Trim(line).empty();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string title = argc > 1 ? argv[1] : "User guide";
  std::vector<std::string> lines;
  // The guide's Linux-only parts, between "<!-- linux-only" and
  // "<!-- end linux-only -->" lines, are not for the Windows reader.
  bool linuxOnly = false;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("<!-- linux-only", 0) == 0) {
      linuxOnly = true;
    } else if (line.rfind("<!-- end linux-only", 0) == 0) {
      linuxOnly = false;
    } else if (!linuxOnly) {
      lines.push_back(line);
    }
  }
  std::ostringstream body;
  std::size_t i = 0;
  while (i < lines.size()) {
    const std::string& line = lines[i];
    if (Blank(line)) {
      ++i;
    } else if (line.rfind("```", 0) == 0) {
      body << "<pre><code>";
      for (++i; i < lines.size() && lines[i].rfind("```", 0) != 0; ++i)
        body << Escape(lines[i]) << '\n';
      body << "</code></pre>\n";
      ++i;
    } else if (line[0] == '#') {
      std::size_t level = line.find_first_not_of('#');
      if (level == std::string::npos || level > 6 || line[level] != ' ') level = 0;
      if (level == 0) {
        body << "<p>" << Inline(line) << "</p>\n";
      } else {
        const std::string text = Trim(line.substr(level));
        body << "<h" << level << " id=\"" << Slug(text) << "\">" << Inline(text) << "</h" << level
             << ">\n";
      }
      ++i;
    } else if (line[0] == '|' && i + 1 < lines.size() && IsSeparator(lines[i + 1])) {
      body << "<table>\n<thead><tr>";
      for (const std::string& c : Cells(line)) body << "<th>" << Inline(c) << "</th>";
      body << "</tr></thead>\n<tbody>\n";
      for (i += 2; i < lines.size() && !Blank(lines[i]) && Trim(lines[i])[0] == '|'; ++i) {
        body << "<tr>";
        for (const std::string& c : Cells(lines[i])) body << "<td>" << Inline(c) << "</td>";
        body << "</tr>\n";
      }
      body << "</tbody>\n</table>\n";
    } else if (IsBullet(line) || OrderedStart(line) != 0) {
      const bool ordered = !IsBullet(line);
      body << (ordered ? "<ol>\n" : "<ul>\n");
      while (i < lines.size() && (ordered ? OrderedStart(lines[i]) != 0 : IsBullet(lines[i]))) {
        std::string item = lines[i].substr(ordered ? OrderedStart(lines[i]) : 2);
        // Continuation lines are indented.
        for (++i; i < lines.size() && !Blank(lines[i]) && lines[i][0] == ' '; ++i)
          item += " " + Trim(lines[i]);
        body << "<li>" << Inline(item) << "</li>\n";
      }
      body << (ordered ? "</ol>\n" : "</ul>\n");
    } else {
      std::string para = Trim(line);
      for (++i; i < lines.size() && !Blank(lines[i]) && lines[i][0] != '#' && lines[i][0] != '|' &&
                lines[i].rfind("```", 0) != 0 && !IsBullet(lines[i]) && OrderedStart(lines[i]) == 0;
           ++i)
        para += " " + Trim(lines[i]);
      body << "<p>" << Inline(para) << "</p>\n";
    }
  }
  std::cout << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
            << Escape(title)
            << "</title>\n<style>\n"
               "body{font-family:sans-serif;max-width:60em;margin:1em auto;padding:0 1em;"
               "line-height:1.4}\n"
               "table{border-collapse:collapse;margin:1em 0}\n"
               "th,td{border:1px solid #999;padding:.2em .5em;vertical-align:top;text-align:left}\n"
               "code,pre{font-family:Consolas,monospace;background:#f2f2f2}\n"
               "pre{padding:.5em;overflow-x:auto}\n"
               "</style>\n</head>\n<body>\n"
            << body.str() << "</body>\n</html>\n";
  return 0;
}
