// The configuration dialog as Config runs it.
#pragma once

#include "settings/pendant_settings.h"

namespace km4r {

// Runs the dialog modally on the platform's view; on OK the edited values are
// stored into settings, on Cancel nothing is.
void RunConfigDialog(PendantSettings& settings);

}  // namespace km4r
