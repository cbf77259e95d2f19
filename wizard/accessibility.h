#pragma once

#include <QHash>
#include <QObject>

class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;
class QWidget;

// What a screen reader and a keyboard need of the wizard beyond its widgets:
// a page that becomes current takes the focus on its first control (so its
// name is read as the focus enters it) and makes its own button the one
// Enter presses; Space ticks the package of the table's current row; the
// status list announces every line added to it.
class WizardAccessibility final : public QObject {
public:
    // Lives as a child of pages.
    explicit WizardAccessibility(QStackedWidget& pages);

    // Enter presses button while page is current.
    void setDefaultButton(QWidget* page, QPushButton* button);
    // Space ticks the check box in column 0 of the current row; Tab leaves
    // the table instead of walking its cells.
    void letKeysTick(QTableWidget& table);

    // name and description for assistive technology; an empty description
    // leaves the widget's own.
    static void describe(QWidget& widget, const QString& name, const QString& description = {});
    // The list is the update's live region: its description is the newest
    // line, and the change is announced once.
    static void announceLine(QListWidget& list, const QString& line);
    // The bar's text, not only its number, is what a screen reader reads.
    static void showProgressText(QProgressBar& bar);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pageChanged(int index);
    static void tickCurrentRow(QTableWidget& table);
    static void announceTick(QTableWidget& table, QTableWidgetItem& item);

    QStackedWidget& stack;
    QHash<QWidget*, QPushButton*> defaults;
};
