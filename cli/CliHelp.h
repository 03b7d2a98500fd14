#pragma once

#include "help/CommandHelp.h"

namespace cli {

// Everything gemmora-cli says about its options: --help, the manual page
// gemmora-cli(1) and the bash completion are all made from it.
const help::CommandHelp& cliHelp();

}  // namespace cli
