#include "dialogfixture.h"

#include "wizard/cmupdater.h"
#include "wizard/messagebox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

#include <cmath>

namespace {

const QByteArray offer = package("Software Version", "sw.zip", "95000", "New dialer") +
                         package("Firmware Version", "fw.zip", "70000", "New modem");

// WCAG's contrast ratio of two colours.
double contrast(const QColor& one, const QColor& other)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) {
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one), b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace

// What a screen reader and a keyboard meet on every page of the wizard.
class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void everyPageIsNamedAndReachable_data();
    void everyPageIsNamedAndReachable();
    void keysAloneDriveTheWizard_data();
    void keysAloneDriveTheWizard();
    void statusIsToldAsItComes();
    void textsFitALargeFont_data();
    void textsFitALargeFont();

private:
    static void showNotice(DialogFixture& fixture);
    static QWidget* currentPage(DialogFixture& fixture);
    static void press(DialogFixture& fixture, const QString& keys);
};

void AccessibilityTest::showNotice(DialogFixture& fixture)
{
    fixture.writeFile("Description.xml", description(newVersionHeader(), offer));
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    fixture.dialog().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&fixture.dialog()));
}

QWidget* AccessibilityTest::currentPage(DialogFixture& fixture)
{
    return fixture.dialog().findChild<QStackedWidget*>("centerStack")->currentWidget();
}

// Keys by name, one after the other, each to the widget that has the focus.
void AccessibilityTest::press(DialogFixture& fixture, const QString& keys)
{
    const QMap<QString, Qt::Key> named = {{"Tab", Qt::Key_Tab},
                                          {"Space", Qt::Key_Space},
                                          {"Enter", Qt::Key_Return},
                                          {"Escape", Qt::Key_Escape},
                                          {"Down", Qt::Key_Down}};
    for (const QString& key : keys.split(' ', Qt::SkipEmptyParts)) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : &fixture.dialog(), named.value(key));
    }
}

void AccessibilityTest::everyPageIsNamedAndReachable_data()
{
    QTest::addColumn<QString>("keys"); // from the notice to the page
    QTest::newRow("notice") << "";
    QTest::newRow("packages") << "Enter";
    QTest::newRow("update") << "Enter Space Enter";
}

// Names present and free of markup, controls in roles a reader acts on, the
// focus on the page's first control and Tab through every enabled control in
// reading order, mnemonics unique, every label readable on its background.
void AccessibilityTest::everyPageIsNamedAndReachable()
{
    QFETCH(QString, keys);
    DialogFixture fixture;
    showNotice(fixture);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    press(fixture, keys);
    QWidget* page = currentPage(fixture);

    QList<QAccessibleInterface*> pending{QAccessible::queryAccessibleInterface(page)};
    while (!pending.isEmpty()) {
        QAccessibleInterface* node = pending.takeFirst();
        for (int child = 0; child < node->childCount(); ++child)
            pending << node->child(child);
        if (node->state().invisible || (node->role() == QAccessible::Pane && !node->object()))
            continue; // hidden, or the table's corner, which is never drawn here
        const QString name = node->text(QAccessible::Name);
        const QString where = QString("%1 role %2 of %3")
                                  .arg(name)
                                  .arg(node->role())
                                  .arg(node->object() ? node->object()->objectName() : "a cell");
        QVERIFY2(!name.isEmpty() || node->role() == QAccessible::StaticText, qPrintable(where));
        for (const QString& text : {name, node->text(QAccessible::Description)})
            QVERIFY2(!text.contains('<') && !text.contains('>'), qPrintable(where));
        if (node->state().checkable) // a package's box says which package
            QVERIFY2(name.contains("KB") && name.contains("9.1"), qPrintable(where));
    }

    QList<QWidget*> controls;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        const bool control = (qobject_cast<QAbstractButton*>(widget) != nullptr ||
                              qobject_cast<QAbstractItemView*>(widget) != nullptr) &&
                             !widget->objectName().isEmpty(); // not a part of one
        if (control && widget->isVisible() && widget->isEnabled())
            controls << widget;
    }
    std::sort(controls.begin(), controls.end(), [page](QWidget* a, QWidget* b) {
        const QPoint pa = a->mapTo(page, QPoint()), pb = b->mapTo(page, QPoint());
        return std::make_pair(pa.y(), pa.x()) < std::make_pair(pb.y(), pb.x());
    });
    QVERIFY(!controls.isEmpty());
    QList<QWidget*> visited;
    for (int step = 0; step < controls.size(); ++step) {
        visited << QApplication::focusWidget();
        press(fixture, "Tab");
    }
    QCOMPARE(visited, controls);
    QCOMPARE(QApplication::focusWidget(), controls.first()); // the chain closes on the page

    for (const QLabel* label : page->findChildren<QLabel*>()) {
        const QPalette& colours = label->palette();
        QVERIFY2(contrast(colours.color(QPalette::WindowText), colours.color(QPalette::Window)) >=
                     4.5,
                 qPrintable(label->objectName()));
    }

    QSet<QKeySequence> mnemonics;
    for (const QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
        QVERIFY2(mnemonic.isEmpty() || !mnemonics.contains(mnemonic), qPrintable(button->text()));
        mnemonics << mnemonic;
    }
}

void AccessibilityTest::keysAloneDriveTheWizard_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("ended"); // the recorded process end, -1 while running
    QTest::newRow("escape on the notice") << "Escape"
                                          << "noticeWStackPage" << 0;
    QTest::newRow("cancel by tab") << "Tab Enter"
                                   << "noticeWStackPage" << 0;
    QTest::newRow("back to the notice") << "Enter Tab Enter"
                                        << "noticeWStackPage" << -1; // Back is the second control
    QTest::newRow("nothing ticked") << "Enter Enter"
                                    << "selectWStackPage" << -1;
    QTest::newRow("space ticks the second row") << "Enter Down Space Enter"
                                                << "updateWStackPage" << -1;
    QTest::newRow("space twice unticks") << "Enter Space Space Enter"
                                         << "selectWStackPage" << -1;
}

void AccessibilityTest::keysAloneDriveTheWizard()
{
    QFETCH(QString, keys);
    QFETCH(QString, page);
    QFETCH(int, ended);
    DialogFixture fixture;
    fixture.session().setProcessEnd([&fixture](int status) { fixture.endedWith = status; });
    showNotice(fixture);
    MessageBox::setNextAnswer(QMessageBox::Yes); // the box that comes, whichever
    press(fixture, keys);
    QCOMPARE(currentPage(fixture)->objectName(), page);
    QCOMPARE(fixture.endedWith == 0 || !fixture.dialog().isVisible() ? 0 : -1, ended);
}

// The events themselves need an accessibility bus (the end-to-end test);
// here, after each report, the newest line and the bar's text are what the
// list and the bar tell.
void AccessibilityTest::statusIsToldAsItComes()
{
    DialogFixture fixture;
    showNotice(fixture);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    press(fixture, "Enter Space Enter");
    auto* list = fixture.dialog().findChild<QListWidget*>("updateListbox");
    auto* bar = fixture.dialog().findChild<QProgressBar*>("updateProgressBar");
    for (int percent : {0, 42, 100}) {
        fixture.onAgentThread([&] { fixture.dialog().DownloadProcess("sw.zip", percent); });
        QVERIFY(list->count() > 0);
        QCOMPARE(list->accessibleDescription(), list->item(list->count() - 1)->text());
        QVERIFY(bar->text().contains(QString::number(percent)));
        QCOMPARE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Description),
                 bar->text());
    }
}

void AccessibilityTest::textsFitALargeFont_data()
{
    QTest::addColumn<int>("points");
    QTest::newRow("default-font") << 0;
    QTest::newRow("16pt") << 16;
    QTest::newRow("24pt") << 24;
}

// Every fixed text fits its widget, the step labels in bold too; screenshots
// of each page go to CMUPDATER_SHOTS when it names a directory.
void AccessibilityTest::textsFitALargeFont()
{
    QFETCH(int, points);
    const QFont standard = QApplication::font();
    QFont large = standard;
    if (points > 0)
        large.setPointSize(points);
    QApplication::setFont(large);
    DialogFixture fixture;
    showNotice(fixture);
    QApplication::setFont(standard);
    for (QLabel* label : fixture.dialog().findChildren<QLabel*>()) {
        QFont bold = label->font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width() &&
                     metrics.height() <= label->height(),
                 qPrintable(label->objectName()));
    }
    for (QPushButton* button : fixture.dialog().findChildren<QPushButton*>())
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                 qPrintable(button->objectName()));
    const QString shots = qEnvironmentVariable("CMUPDATER_SHOTS");
    for (const char* keys : {"", "Enter Down", "Space Enter"}) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        press(fixture, keys);
        if (!shots.isEmpty())
            fixture.dialog().grab().save(
                QString("%1/%2-%3.png")
                    .arg(shots, QTest::currentDataTag(), currentPage(fixture)->objectName()));
    }
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
