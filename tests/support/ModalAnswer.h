// Test helper: answers modal windows in turn as they come up.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// Answers modal windows from the test: each call queues an action that runs
// once a modal window of type W is on top, then the next action waits for
// the next such window.
class ModalAnswers {
public:
    template <typename W> void when(std::function<void(W*)> action)
    {
        m_matchers.push_back([](QWidget* top) {
            auto* window = qobject_cast<W*>(top);
            return window != nullptr && window->isVisible();
        });
        m_steps.push_back([action](QWidget* top) {
            if (top != nullptr) {
                action(qobject_cast<W*>(top));
            }
            return false;
        });
        arm();
    }

    // A message box answered with `button`; its text and default are kept.
    void answer(QMessageBox::StandardButton button)
    {
        when<QMessageBox>([this, button](QMessageBox* box) {
            texts.push_back(box->text());
            defaults.push_back(box->defaultButton() ? box->standardButton(box->defaultButton())
                                                    : QMessageBox::NoButton);
            box->button(button)->click();
        });
    }

    // A message box (an error, a notice) closed with OK; its text goes to `text`.
    void acknowledge(QString& text)
    {
        when<QMessageBox>([&text](QMessageBox* box) {
            text = box->text();
            box->accept();
        });
    }

    bool done() const { return m_steps.empty(); }

    QStringList texts;
    QList<QMessageBox::StandardButton> defaults;

private:
    // One timer at a time; a step is taken off the queue before it runs, and
    // the next is armed first, since the step may open a modal window itself.
    void arm()
    {
        if (m_armed) {
            return;
        }
        m_armed = true;
        QTimer::singleShot(5, qApp, [this] {
            m_armed = false;
            if (m_steps.empty()) {
                return;
            }
            QWidget* top = QApplication::activeModalWidget();
            std::function<bool(QWidget*)> step = m_steps.front();
            if (top != nullptr && m_matchers.front()(top)) {
                m_steps.erase(m_steps.begin());
                m_matchers.erase(m_matchers.begin());
                if (!m_steps.empty()) {
                    arm();
                }
                step(top);
                return;
            }
            arm();
        });
    }

    std::vector<std::function<bool(QWidget*)>> m_steps;
    std::vector<std::function<bool(QWidget*)>> m_matchers;
    bool m_armed = false;
};
