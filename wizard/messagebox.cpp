#include "wizard/messagebox.h"

#include <utility>

std::optional<QMessageBox::StandardButton> MessageBox::nextAnswer;
QString MessageBox::lastAsked;

void MessageBox::information(QWidget* parent, const QString& caption, const QString& text)
{
    ask(QMessageBox::Information, parent, caption, text, QMessageBox::Yes);
}

void MessageBox::warning(QWidget* parent, const QString& caption, const QString& text)
{
    ask(QMessageBox::Warning, parent, caption, text, QMessageBox::Ok);
}

QMessageBox::StandardButton MessageBox::question(QWidget* parent, const QString& caption,
                                                 const QString& text)
{
    return ask(QMessageBox::Question, parent, caption, text, QMessageBox::Yes | QMessageBox::No);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    nextAnswer = answer;
}

QString MessageBox::takeLastText()
{
    return std::exchange(lastAsked, QString());
}

QMessageBox::StandardButton MessageBox::ask(QMessageBox::Icon icon, QWidget* parent,
                                            const QString& caption, const QString& text,
                                            QMessageBox::StandardButtons buttons)
{
    lastAsked = text;
    if (nextAnswer) {
        const QMessageBox::StandardButton answer = *nextAnswer;
        nextAnswer.reset();
        return answer;
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    // A screen reader reads the box by its caption and the question or
    // warning as its description, as it reads an alert.
    box.setAccessibleName(caption);
    box.setAccessibleDescription(text);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
