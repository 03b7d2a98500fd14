// What the main window's source files share: its designed size and how it shows a path.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <QString>

#include "text/Text.h"

namespace app {

constexpr int kDesignWidth = 609;
constexpr int kDesignHeight = 469;

// A path's or a message's bytes as the window shows them.
inline QString display(const std::string& bytes)
{
    return QString::fromStdString(text::displayUtf8(bytes));
}

}  // namespace app
