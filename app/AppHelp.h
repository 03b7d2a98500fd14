// The desktop program's command-line options, as --help and its manual page show them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "help/CommandHelp.h"

namespace app {

// What the desktop program says about how it is called: its --help and the
// manual page gemmora(1) are made from it.
const help::CommandHelp& appHelp();

}  // namespace app
