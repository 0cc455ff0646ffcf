#include "document/framework/FilterMessages.h"

#include <QGuiApplication>

#include <QApplication>
#include <QMessageBox>

namespace Orvex::Document {

namespace {
FilterMessages::Handler& handler() {
    static FilterMessages::Handler h;
    return h;
}
} // namespace

bool FilterMessages::show(const FilterMessage& message, QWidget* parent) {
    if (handler()) return handler()(message);
    // The arrow cursor while the box is open: a run may have set the busy cursor.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    bool answer = false;
    switch (message.kind) {
    case FilterMessage::Warning:
        QMessageBox::warning(parent, message.title, message.text, QMessageBox::Ok);
        break;
    case FilterMessage::Critical:
        QMessageBox::critical(parent, message.title, message.text, QMessageBox::Ok);
        break;
    case FilterMessage::Question:
        answer =
            QMessageBox::question(parent, message.title, message.text, QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) == QMessageBox::Yes;
        break;
    }
    QApplication::restoreOverrideCursor();
    return answer;
}

FilterMessages::Handler FilterMessages::setHandler(Handler h) {
    std::swap(handler(), h);
    return h;
}

QString FilterMessages::applicationTitle() {
    const QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QStringLiteral("Elemorama") : title;
}

} // namespace Orvex::Document
