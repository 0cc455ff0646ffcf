#pragma once
// The message boxes of the effects, behind one replaceable function so that headless tests (and
// hosts without a person) see the texts instead of a modal box.

#include <QString>

#include <functional>

class QWidget;

namespace Orvex::Document {

struct FilterMessage {
    enum Kind { Warning, Critical, Question };
    Kind kind = Warning;
    QString title;
    QString text;
};

class FilterMessages {
public:
    // Shows the message; for a question, true when the user answered yes.
    static bool show(const FilterMessage& message, QWidget* parent = nullptr);
    static bool warning(const QString& title, const QString& text, QWidget* parent = nullptr) {
        return show({FilterMessage::Warning, title, text}, parent);
    }
    static bool critical(const QString& title, const QString& text, QWidget* parent = nullptr) {
        return show({FilterMessage::Critical, title, text}, parent);
    }
    static bool question(const QString& title, const QString& text, QWidget* parent = nullptr) {
        return show({FilterMessage::Question, title, text}, parent);
    }
    // The title of the effects' boxes: the application's display name ("Elemorama" without one).
    static QString applicationTitle();
    // Replaces the boxes (nullptr restores them); returns the previous handler.
    using Handler = std::function<bool(const FilterMessage&)>;
    static Handler setHandler(Handler handler);
};

} // namespace Orvex::Document
