// Preloaded into the installed updater by the end-to-end tests: clicks through
// the wizard as a user would, on the GUI thread, through the real widgets.
//   AUTOPILOT_TICK   rows to tick on the package page, e.g. "0,1"
//   AUTOPILOT_BACKUP "yes" or "no", the answer to the private-data question
//   AUTOPILOT_CANCEL "notice" or "select": press Cancel there instead
// A warning box is read out on standard error and answered with OK.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QString setting(const char* name)
{
    return qEnvironmentVariable(name);
}

void answer(QMessageBox* box)
{
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        std::fprintf(stderr, "autopilot: box %s: %s\n", qPrintable(box->windowTitle()),
                     qPrintable(box->text()));
        QMetaObject::invokeMethod(ok, &QAbstractButton::click, Qt::QueuedConnection);
        return;
    }
    const bool backupQuestion = box->text().contains("private data");
    const bool yes = !backupQuestion || setting("AUTOPILOT_BACKUP") != "no";
    if (QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No))
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

// Each button is pressed once at most, as a user who follows one path would.
void press(QWidget* dialog, const char* name)
{
    static QSet<QString> pressed;
    if (pressed.contains(name))
        return;
    if (auto* button = dialog->findChild<QPushButton*>(name); button && button->isEnabled()) {
        pressed.insert(name);
        std::fprintf(stderr, "autopilot: %s\n", name);
        // Queued: a click may open a modal box, and this timer does not fire again
        // while its own call is still running.
        QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
    }
}

void selectPackages(QWidget* dialog)
{
    auto* table = dialog->findChild<QTableWidget*>("selectTable");
    for (const QString& row : setting("AUTOPILOT_TICK").split(',', Qt::SkipEmptyParts)) {
        if (QTableWidgetItem* box = table->item(row.toInt(), 0))
            box->setCheckState(Qt::Checked);
    }
    press(dialog, setting("AUTOPILOT_CANCEL") == "select" ? "selectCancel" : "selectUpdate");
}

void step()
{
    QWidget* dialog = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible())
            continue;
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            answer(box);
            return;
        }
        if (widget->objectName() == "CMUpdater")
            dialog = widget;
    }
    if (dialog == nullptr)
        return;
    const QString page =
        dialog->findChild<QStackedWidget*>("centerStack")->currentWidget()->objectName();
    if (page == "noticeWStackPage")
        press(dialog, setting("AUTOPILOT_CANCEL") == "notice" ? "noticeCancel" : "noticeNext");
    else if (page == "selectWStackPage")
        selectPackages(dialog);
}

void startAutopilot()
{
    // The updater's shell lines need not load the driver, and Qt with it.
    unsetenv("LD_PRELOAD");
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, step);
    timer->start(100);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startAutopilot)
