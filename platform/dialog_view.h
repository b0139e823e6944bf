// The configuration dialog's window, one implementation per platform (win32:
// dialog template 4013; posix: a text form on the terminal). The portable
// model (settings/config_dialog.h) drives it by control id and never sees
// the platform's controls. The ids are those of resources/resource_ids.h.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

namespace km4r::platform {

enum class DialogResult { Ok, Cancel };

enum class ControlKind { List, Field, Check };

// One control of the dialog, given in tab order by the model: the terminal
// form is laid out from these, the Windows template has a layout of its own.
struct DialogRow {
  ControlKind kind;
  int id;
  const char* label;  // a check box's own text; the heading over a list or field
};

class DialogView {
 public:
  virtual ~DialogView() = default;

  // Drop-down lists. A selection of -1 means none.
  virtual void ClearList(int id) = 0;
  virtual void AddListItem(int id, const char* text) = 0;
  virtual void SetListSelection(int id, int index) = 0;
  virtual int ListSelection(int id) = 0;

  // Single-line number fields (any typed text is accepted).
  virtual void SetFieldText(int id, const char* text) = 0;
  virtual std::string FieldText(int id) = 0;

  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool Checked(int id) = 0;

  // A modal message box over the dialog.
  virtual void ShowMessage(const char* text) = 0;
  virtual void SetFocus(int id) = 0;

  // Shows the dialog and blocks until it closes. onInit runs once the
  // controls exist; onOk runs each time the user confirms and closes the
  // dialog with Ok only when it returns true. Cancel (Escape, closing, end
  // of input) calls neither and closes with Cancel.
  virtual DialogResult RunModal(const std::function<void()>& onInit,
                                const std::function<bool()>& onOk) = 0;
};

// A modal message box of its own, over the host's window: what the user must
// know when no dialog is open.
void ShowNotice(const char* text);

// The platform's dialog window over these controls; nullptr when none can be
// made (the dialog then counts as cancelled).
std::unique_ptr<DialogView> CreateDialogView(std::span<const DialogRow> rows);

}  // namespace km4r::platform
