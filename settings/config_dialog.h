// The configuration dialog: a model over the platform's dialog view. It
// shows the settings when the view opens and stores the edited values when
// the user confirms; on Cancel it stores nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/dialog_view.h"
#include "settings/pendant_settings.h"

namespace km4r {

class ConfigDialog {
 public:
  ConfigDialog(PendantSettings& settings, platform::DialogView& view);
  virtual ~ConfigDialog() = default;
  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;

  platform::DialogResult DoModal();

  // The view's callbacks, public so a view can be driven step by step.
  void OnInitDialog();
  // False keeps the dialog open (a number field did not parse).
  bool OnOk();

 private:
  PendantSettings& settings_;
  platform::DialogView& view_;
};

// Reads a number field as "%d" does: leading white space, an optional sign,
// at least one digit; what follows is ignored and only the first 63
// characters are looked at. False when no integer starts the text.
bool ReadIntegerField(std::string_view text, int32_t& value);

// Runs the dialog modally on the platform's view; on OK the edited values are
// stored into settings, on Cancel nothing is. Cancel also when no view can be
// made.
platform::DialogResult RunConfigDialog(PendantSettings& settings);

}  // namespace km4r
