#pragma once

// Answers a modal dialog from the test: once the next modal window is up
// (checked every 10 ms on the GUI thread), `act` runs with it.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace tarnwick::test {

inline void whenModalShown(const std::function<void(QWidget*)>& act, QWidget* notThis = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, notThis] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == notThis || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

} // namespace tarnwick::test
