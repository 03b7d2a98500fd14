// gemmora-cli's options, from which --help, its manual page and its bash completion are made.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "help/CommandHelp.h"

namespace cli {

// Everything gemmora-cli says about its options: --help, the manual page
// gemmora-cli(1) and the bash completion are all made from it.
const help::CommandHelp& cliHelp();

}  // namespace cli
