#pragma once
// Small helpers for driving widgets the way a user does, under the offscreen platform.
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

namespace Orvex::Testing {

// Shows a top-level widget and makes it the active window, so that focus behaves as on a desktop.
inline bool showActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// A mouse move with the left button held (QTest's own moves carry no buttons).
inline void dragTo(QWidget* widget, const QPoint& pos) {
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// Processes events until the condition holds or the time is up (Qt Test's QTRY macros report to
// Qt Test, not to GoogleTest, so the tests use this instead).
template <class Condition> bool waitUntil(Condition condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
}

inline void hoverTo(QWidget* widget, const QPoint& pos) {
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace Orvex::Testing
