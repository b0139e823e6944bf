#include "pendant/pendant_window.h"

namespace km4r {

void PendantWindow::ComposeDisplay() {}

}  // namespace km4r
