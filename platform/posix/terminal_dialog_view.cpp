// The configuration dialog as a line-oriented form on the terminal: the form
// is printed with a number before every control, the user types a control
// number (and, on the same line or when asked, an item number or the new
// text), "o" for OK or "c" for Cancel. End of input cancels.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog_view.h"

namespace km4r::platform {

namespace {

struct ListState {
  std::vector<std::string> items;
  int selection = -1;
};

class TerminalDialogView final : public DialogView {
 public:
  TerminalDialogView(std::span<const DialogRow> rows, std::FILE* in, std::FILE* out)
      : rows_(rows.begin(), rows.end()), in_(in), out_(out) {}

  void ClearList(int i) override { lists_[i] = ListState{}; }
  void AddListItem(int i, const char* text) override { lists_[i].items.emplace_back(text); }
  void SetListSelection(int i, int index) override {
    ListState& l = lists_[i];
    l.selection = index >= 0 && index < static_cast<int>(l.items.size()) ? index : -1;
  }
  int ListSelection(int i) override { return lists_[i].selection; }
  void SetFieldText(int i, const char* text) override { fields_[i] = text; }
  std::string FieldText(int i) override { return fields_[i]; }
  void SetChecked(int i, bool checked) override { checks_[i] = checked; }
  bool Checked(int i) override { return checks_[i]; }
  void ShowMessage(const char* text) override {
    std::fprintf(out_, "\n*** %s\n", text);
    std::fflush(out_);
  }
  void SetFocus(int i) override { focus_ = i; }

  DialogResult RunModal(const std::function<void()>& onInit,
                        const std::function<bool()>& onOk) override {
    if (onInit) onInit();
    std::string line;
    for (;;) {
      PrintForm();
      if (!Prompt("Control number to change, o = OK, c = Cancel: ", line))
        return DialogResult::Cancel;
      std::string word = FirstWord(line);
      if (word == "o" || word == "O" || word == "ok" || word == "OK") {
        if (!onOk || onOk()) return DialogResult::Ok;
        continue;
      }
      if (word == "c" || word == "C" || word == "cancel" || word == "q")
        return DialogResult::Cancel;
      int number = 0;
      if (!ParseNumber(word, number) || number < 1 || number > ControlCount()) {
        if (!word.empty()) std::fprintf(out_, "No control %s.\n", word.c_str());
        continue;
      }
      std::string rest = Remainder(line);
      if (!Edit(rows_[number - 1], rest)) return DialogResult::Cancel;
    }
  }

 private:
  int ControlCount() const { return static_cast<int>(rows_.size()); }

  static std::string FirstWord(const std::string& line) {
    std::size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    std::size_t e = line.find_first_of(" \t", b);
    return line.substr(b, e == std::string::npos ? std::string::npos : e - b);
  }
  // What follows the first word and the one blank after it, as typed.
  static std::string Remainder(const std::string& line) {
    std::size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    std::size_t e = line.find_first_of(" \t", b);
    return e == std::string::npos ? std::string() : line.substr(e + 1);
  }
  static bool ParseNumber(const std::string& word, int& value) {
    if (word.empty() || word.size() > 6) return false;
    value = 0;
    for (char c : word) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    return true;
  }

  // False at end of input.
  bool Prompt(const char* text, std::string& line) {
    std::fputs(text, out_);
    std::fflush(out_);
    line.clear();
    char chunk[256];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, in_) != nullptr) {
      any = true;
      line += chunk;
      if (!line.empty() && line.back() == '\n') break;
    }
    if (!any) {
      std::fputc('\n', out_);
      return false;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
  }

  // False at end of input.
  bool Edit(const DialogRow& row, std::string rest) {
    switch (row.kind) {
      case ControlKind::Check:
        checks_[row.id] = !checks_[row.id];
        return true;
      case ControlKind::Field:
        if (rest.empty()) {
          if (!Prompt("New text (as typed, may be empty): ", rest)) return false;
        }
        fields_[row.id] = rest;
        return true;
      case ControlKind::List: {
        ListState& l = lists_[row.id];
        if (FirstWord(rest).empty()) {
          for (std::size_t i = 0; i < l.items.size(); ++i)
            std::fprintf(out_, "    %zu: [%s]\n", i, l.items[i].c_str());
          if (!Prompt("Item number: ", rest)) return false;
        }
        int item = 0;
        if (ParseNumber(FirstWord(rest), item) && item < static_cast<int>(l.items.size())) {
          l.selection = item;
        } else {
          std::fprintf(out_, "No item %s.\n", FirstWord(rest).c_str());
        }
        return true;
      }
    }
    return true;
  }

  void PrintForm() {
    std::fprintf(out_, "\n%s\n\n", "Quorvix KM4-R Pendant Configuration");
    const char* heading = nullptr;
    for (int n = 0; n < ControlCount(); ++n) {
      const DialogRow& row = rows_[n];
      const int id = row.id;
      // Lists and fields show their label above them, once for a row of
      // controls that share it; a check box carries its own.
      if (row.kind != ControlKind::Check && row.label != heading)
        std::fprintf(out_, "%s\n", row.label);
      heading = row.label;
      const char* mark = focus_ == id ? ">" : " ";
      switch (row.kind) {
        case ControlKind::List: {
          const ListState& l = lists_[id];
          const char* shown = l.selection >= 0 ? l.items[l.selection].c_str() : "";
          std::fprintf(out_, "%s%3d) [%s]\n", mark, n + 1, shown);
          break;
        }
        case ControlKind::Field:
          std::fprintf(out_, "%s%3d) [%s]\n", mark, n + 1, fields_[id].c_str());
          break;
        case ControlKind::Check:
          std::fprintf(out_, "%s%3d) [%c] %s\n", mark, n + 1, checks_[id] ? 'x' : ' ', row.label);
          break;
      }
    }
    std::fprintf(out_, "       [OK]\n");
    std::fflush(out_);
  }

  std::vector<DialogRow> rows_;
  std::FILE* in_;
  std::FILE* out_;
  std::map<int, ListState> lists_;
  std::map<int, std::string> fields_;
  std::map<int, bool> checks_;
  int focus_ = 0;
};

}  // namespace

void ShowNotice(const char* text) {
  std::fprintf(stdout, "\n*** %s\n", text);
  std::fflush(stdout);
}

std::unique_ptr<DialogView> CreateDialogView(std::span<const DialogRow> rows) {
  return std::make_unique<TerminalDialogView>(rows, stdin, stdout);
}

}  // namespace km4r::platform
