// The configuration dialog's window on Windows: dialog template 4013 of this
// module, run modally, owned by the calling thread's active top-level window
// (the host's), which is disabled while the dialog runs.
#include <windows.h>

#include "platform/dialog_view.h"
#include "platform/module_info.h"
#include "platform/win32/module_handle.h"
#include "resources/resource_ids.h"

namespace km4r::platform {

namespace {

class Win32DialogView final : public DialogView {
 public:
  // Some of the template's lists sort what is added, so a row's position need
  // not be the order it was added in: each row carries that order as its item
  // data, and selections are translated through it.
  void ClearList(int id) override { Send(id, CB_RESETCONTENT, 0, 0); }
  void AddListItem(int id, const char* text) override {
    const LRESULT order = Send(id, CB_GETCOUNT, 0, 0);
    const LRESULT row = Send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (order >= 0 && row >= 0)
      Send(id, CB_SETITEMDATA, static_cast<WPARAM>(row), static_cast<LPARAM>(order));
  }
  void SetListSelection(int id, int index) override {
    Send(id, CB_SETCURSEL, static_cast<WPARAM>(RowOf(id, index)), 0);
  }
  int ListSelection(int id) override {
    const LRESULT row = Send(id, CB_GETCURSEL, 0, 0);
    if (row == CB_ERR) return -1;
    const LRESULT order = Send(id, CB_GETITEMDATA, static_cast<WPARAM>(row), 0);
    return order == CB_ERR ? -1 : static_cast<int>(order);
  }

  void SetFieldText(int id, const char* text) override { SetDlgItemTextA(dlg_, id, text); }
  std::string FieldText(int id) override {
    HWND field = GetDlgItem(dlg_, id);
    if (field == nullptr) return {};
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(field)) + 1, '\0');
    const int n = GetWindowTextA(field, text.data(), static_cast<int>(text.size()));
    text.resize(n > 0 ? n : 0);
    return text;
  }

  void SetChecked(int id, bool checked) override {
    CheckDlgButton(dlg_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  bool Checked(int id) override { return IsDlgButtonChecked(dlg_, id) == BST_CHECKED; }

  void ShowMessage(const char* text) override {
    const std::string caption = ModuleFileTitle();
    MessageBoxA(dlg_, text, caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
  void SetFocus(int id) override {
    HWND control = GetDlgItem(dlg_, id);
    if (control != nullptr)
      SendMessageA(dlg_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  }

  DialogResult RunModal(const std::function<void()>& onInit,
                        const std::function<bool()>& onOk) override {
    onInit_ = &onInit;
    onOk_ = &onOk;
    // The system disables the owner until the dialog ends, so the host is
    // not usable behind a modal dialog. No active window: no owner.
    HWND owner = GetActiveWindow();
    if (owner != nullptr) owner = GetAncestor(owner, GA_ROOT);
    const INT_PTR result = DialogBoxParamA(win32::ThisModule(), MAKEINTRESOURCEA(IDD_CONFIG), owner,
                                           &Proc, reinterpret_cast<LPARAM>(this));
    dlg_ = nullptr;
    onInit_ = nullptr;
    onOk_ = nullptr;
    return result == IDOK ? DialogResult::Ok : DialogResult::Cancel;
  }

 private:
  LRESULT Send(int id, UINT msg, WPARAM wp, LPARAM lp) {
    return SendDlgItemMessageA(dlg_, id, msg, wp, lp);
  }

  // The row holding the index-th added item; -1 (no selection) when none does.
  int RowOf(int id, int index) {
    if (index < 0) return -1;
    const LRESULT rows = Send(id, CB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < rows; ++row)
      if (Send(id, CB_GETITEMDATA, static_cast<WPARAM>(row), 0) == index)
        return static_cast<int>(row);
    return -1;
  }

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lp);
      auto* self = reinterpret_cast<Win32DialogView*>(lp);
      self->dlg_ = hwnd;
      self->Guarded([self] { (*self->onInit_)(); });
      return TRUE;  // the system sets the default focus
    }
    auto* self = reinterpret_cast<Win32DialogView*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr || msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wp)) {
      case IDOK: {
        bool close = false;
        self->Guarded([self, &close] { close = (*self->onOk_)(); });
        if (close) EndDialog(hwnd, IDOK);
        return TRUE;
      }
      case IDCANCEL:
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
      default:
        return FALSE;
    }
  }

  // Nothing may unwind through the system's dialog code.
  template <typename F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (...) {
    }
  }

  HWND dlg_ = nullptr;
  const std::function<void()>* onInit_ = nullptr;
  const std::function<bool()>* onOk_ = nullptr;
};

}  // namespace

void ShowNotice(const char* text) {
  // Owned by the host's window as the dialog is, so it cannot hide behind it.
  HWND owner = GetActiveWindow();
  if (owner != nullptr) owner = GetAncestor(owner, GA_ROOT);
  const std::string caption = ModuleFileTitle();
  MessageBoxA(owner, text, caption.c_str(), MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}

// The template places and labels the controls itself.
std::unique_ptr<DialogView> CreateDialogView(std::span<const DialogRow> /*rows*/) {
  return std::make_unique<Win32DialogView>();
}

}  // namespace km4r::platform
