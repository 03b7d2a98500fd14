// The manual shown in a window of its own, with no browser needed.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <QDialog>

class QTextBrowser;

namespace app {

// The manual page gemmora(1), made from the same template and option list
// as the installed page, shown as formatted text.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(const QString& version, QWidget* parent);

    QTextBrowser* txtManual;

    // The manual page's roff text as HTML: the requests and escapes the
    // page uses (.TH .SH .TP .PP .B .I, \fB \fI \fR \(lq \(rq \- \e) become
    // headings, paragraphs and type faces; comments are dropped.
    static QString manualHtml(const std::string& roff);
};

}  // namespace app
