// Makes a push button show keyboard focus in every style.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/FocusStyle.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOption>

namespace views {

namespace {

class FocusFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        // Only after Tab or an Alt key, as the style shows focus elsewhere.
        const QStyle::State keyboardFocus = State_HasFocus | State_KeyboardFocusChange;
        if (element == CE_PushButton && (option->state & keyboardFocus) == keyboardFocus) {
            QStyleOptionFocusRect frame;
            frame.QStyleOption::operator=(*option);
            frame.rect = subElementRect(SE_PushButtonFocusRect, option, widget);
            baseStyle()->drawPrimitive(PE_FrameFocusRect, &frame, painter, widget);
        }
    }
};

}  // namespace

void showKeyboardFocus(QPushButton* button)
{
    // One style for every button, of the same kind as the application's, for
    // as long as the application lives.
    static QPointer<QStyle> style;
    if (style == nullptr) {
        style = new FocusFrameStyle(QApplication::style()->name());
        style->setParent(qApp);
    }
    button->setStyle(style);
}

}  // namespace views
