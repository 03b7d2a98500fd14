// The template of the manual page gemmora(1), put in the program by the build.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace app {

extern const char* const kManualTemplate;

}  // namespace app
