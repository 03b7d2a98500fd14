// Makes a push button show keyboard focus in every style.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QPushButton;

namespace views {

// Makes the button show the keyboard focus in every state. Many styles draw
// the default button's outline exactly as they draw the focus, so "Find Now"
// or "OK" looked the same with and without it; the button now also gets the
// style's own focus frame inside it while the focus came from the keyboard.
void showKeyboardFocus(QPushButton* button);

}  // namespace views
