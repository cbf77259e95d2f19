#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>

class QWidget;

// The wizard's message boxes. Tests set the next answer and read what was
// asked; the updater shows the real boxes.
class MessageBox final {
public:
    // An information box with the single button Yes.
    static void information(QWidget* parent, const QString& caption, const QString& text);
    // A question box with the buttons Yes and No; returns the button pressed.
    static QMessageBox::StandardButton question(QWidget* parent, const QString& caption,
                                                const QString& text);

    // A warning box with the single button OK.
    static void warning(QWidget* parent, const QString& caption, const QString& text);

    // The next box is not shown but answered with answer.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // The text of the last box asked, shown or answered, forgotten once taken.
    static QString takeLastText();

private:
    static QMessageBox::StandardButton ask(QMessageBox::Icon icon, QWidget* parent,
                                           const QString& caption, const QString& text,
                                           QMessageBox::StandardButtons buttons);
    static std::optional<QMessageBox::StandardButton> nextAnswer;
    static QString lastAsked;
};
