// Shows the manual page gemmora(1) in a window, made from the page's own sources.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HelpWindow.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/AppHelp.h"
#include "app/ManualTemplate.h"
#include "help/CommandHelp.h"

namespace app {

namespace {

// One line of text with its escapes made HTML, the faces it opens closed.
QString inlineHtml(const QString& line)
{
    QString out;
    QString open;  // the tag of the face in use, "" for roman
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c != '\\' || i + 1 >= line.size()) {
            out += QString(c).toHtmlEscaped();
            continue;
        }
        const QChar next = line[++i];
        if (next == 'f' && i + 1 < line.size()) {
            const QChar face = line[++i];
            if (!open.isEmpty()) {
                out += "</" + open + ">";
                open.clear();
            }
            if (face == 'B' || face == 'I') {
                open = face == 'B' ? "b" : "i";
                out += "<" + open + ">";
            }
        } else if (next == '(' && i + 2 < line.size()) {
            const QString name = line.mid(i + 1, 2);
            i += 2;
            out += name == "lq" ? QString::fromUtf8("\u201c")
                   : name == "rq" ? QString::fromUtf8("\u201d")
                                  : QString();
        } else if (next == '-') {
            out += '-';
        } else if (next == 'e' || next == '\\') {
            out += '\\';
        } else if (next == '&') {
            // A zero-width mark that keeps a line from being a request.
        } else {
            out += QString(next).toHtmlEscaped();
        }
    }
    if (!open.isEmpty()) {
        out += "</" + open + ">";
    }
    return out;
}

}  // namespace

QString HelpWindow::manualHtml(const std::string& roff)
{
    QString html;
    bool inParagraph = false;
    bool termNext = false;  // after .TP: the next line is the term
    const auto closeParagraph = [&] {
        if (inParagraph) {
            html += "</p>\n";
            inParagraph = false;
        }
    };
    const auto text = [&](const QString& piece) {
        if (!inParagraph) {
            html += termNext ? "<p style=\"margin-bottom:0\">" : "<p>";
            inParagraph = true;
        } else {
            html += ' ';
        }
        html += piece;
        if (termNext) {
            html += "</p>\n<p style=\"margin-left:2em; margin-top:0\">";
            termNext = false;
        }
    };
    for (const QString& line : QString::fromStdString(roff).split('\n')) {
        const QString request = line.section(' ', 0, 0);
        const QString rest = line.section(' ', 1);
        if (line.startsWith(".\\\"") || request == ".TH") {
            continue;
        }
        if (request == ".SH") {
            closeParagraph();
            html += "<h3>" + inlineHtml(rest) + "</h3>\n";
        } else if (request == ".PP") {
            closeParagraph();
        } else if (request == ".TP") {
            closeParagraph();
            termNext = true;
        } else if (request == ".B" || request == ".I") {
            const QString tag = request == ".B" ? "b" : "i";
            text("<" + tag + ">" + inlineHtml(rest) + "</" + tag + ">");
        } else if (!line.startsWith('.')) {
            text(inlineHtml(line));
        }
    }
    closeParagraph();
    return html;
}

HelpWindow::HelpWindow(const QString& version, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Gemmora Help"));
    txtManual = new QTextBrowser(this);
    txtManual->setOpenLinks(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtManual);
    layout->addWidget(buttons);
    std::string error;
    const std::string page =
        help::manualPage(appHelp(), kManualTemplate, version.toStdString(),
                         QDate::currentDate().toString(Qt::ISODate).toStdString(), error);
    txtManual->setHtml(page.empty() ? tr("The manual cannot be shown: %1")
                                          .arg(QString::fromStdString(error).toHtmlEscaped())
                                    : manualHtml(page));
    resize(640, 560);
}

}  // namespace app
