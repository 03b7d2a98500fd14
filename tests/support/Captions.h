// Test helper: a caption as the user reads it, without its accelerator mark.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A caption as the user reads it: the '&' that marks the letter reached with
// Alt is not shown, and "&&" shows one '&'.
inline QString shownCaption(const QString& caption)
{
    QString shown;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) {
            ++i;
        }
        shown += caption[i];
    }
    return shown;
}
