#include "settings/config_dialog.h"

namespace km4r {

// Stand-in until the dialog exists: behaves as a cancelled dialog.
void RunConfigDialog(PendantSettings&) {}

}  // namespace km4r
