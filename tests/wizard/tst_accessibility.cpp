#include "dialogfixture.h"

#include "wizard/cmupdater.h"
#include "wizard/messagebox.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

// What a screen reader and a keyboard meet on every page of the wizard.
class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void everyPageIsNamedAndReachable_data();
    void everyPageIsNamedAndReachable();
    void keysAloneDriveTheWizard_data();
    void keysAloneDriveTheWizard();
    void textsFitALargeFont_data();
    void textsFitALargeFont();
};

namespace {

// Keys by name, each to the widget that has the focus; a box that comes is
// answered Yes.
void press(const QString& keys)
{
    const QMap<QString, Qt::Key> named = {{"Tab", Qt::Key_Tab},
                                          {"Space", Qt::Key_Space},
                                          {"Enter", Qt::Key_Return},
                                          {"Escape", Qt::Key_Escape},
                                          {"Down", Qt::Key_Down}};
    for (const QString& key : keys.split(' ', Qt::SkipEmptyParts)) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::keyClick(QApplication::focusWidget(), named.value(key));
    }
}

// The page the keys lead to from the notice of a software and a firmware package.
QWidget* pageAfter(DialogFixture& fixture, const QString& keys)
{
    fixture.writeFile("Description.xml",
                      description(newVersionHeader(), package("Software Version", "sw.zip") +
                                                          package("Firmware Version", "fw.zip")));
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    fixture.dialog().activateWindow();
    if (QTest::qWaitForWindowActive(&fixture.dialog()))
        press(keys);
    return fixture.dialog().findChild<QStackedWidget*>("centerStack")->currentWidget();
}

} // namespace

void AccessibilityTest::everyPageIsNamedAndReachable_data()
{
    QTest::addColumn<QString>("keys"); // from the notice to the page
    QTest::newRow("notice") << "";
    QTest::newRow("packages") << "Enter";
    QTest::newRow("update") << "Enter Space Enter";
}

// Names present and free of markup, a package's box named by its version and
// size, the bar's value its text; the focus on the page's first control and
// Tab through every enabled control in reading order; mnemonics unique.
void AccessibilityTest::everyPageIsNamedAndReachable()
{
    QFETCH(QString, keys);
    DialogFixture fixture;
    QWidget* page = pageAfter(fixture, keys);
    QList<QAccessibleInterface*> pending{QAccessible::queryAccessibleInterface(page)};
    while (!pending.isEmpty()) {
        QAccessibleInterface* node = pending.takeFirst();
        for (int child = 0; child < node->childCount(); ++child)
            pending << node->child(child);
        if (node->state().invisible || (node->role() == QAccessible::Pane && !node->object()))
            continue; // hidden, or the table's corner, which is never drawn here
        const QString name = node->text(QAccessible::Name);
        const QString where = QString("'%1', role %2").arg(name).arg(node->role());
        QVERIFY2(!name.isEmpty() || node->role() == QAccessible::StaticText, qPrintable(where));
        for (const QString& text : {name, node->text(QAccessible::Description)})
            QVERIFY2(!text.contains('<') && !text.contains('>'), qPrintable(where));
        if (node->state().checkable)
            QVERIFY2(name.contains("9.1") && name.contains("2 KB"), qPrintable(where));
        if (auto* bar = qobject_cast<QProgressBar*>(node->object()))
            QCOMPARE(node->text(QAccessible::Value), bar->text());
    }

    QList<QWidget*> controls; // by place on the page: top to bottom, left to right
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                             qobject_cast<QAbstractItemView*>(widget) != nullptr;
        if (control && !widget->objectName().isEmpty() && widget->isVisible() &&
            widget->isEnabled())
            controls << widget;
    }
    std::sort(controls.begin(), controls.end(), [page](QWidget* a, QWidget* b) {
        const QPoint pa = a->mapTo(page, QPoint()), pb = b->mapTo(page, QPoint());
        return std::pair(pa.y(), pa.x()) < std::pair(pb.y(), pb.x());
    });
    QList<QWidget*> visited;
    for (int step = 0; step <= controls.size(); ++step, press("Tab"))
        visited << QApplication::focusWidget();
    QCOMPARE(visited, controls << controls.first()); // round the page and back

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
    QTest::addColumn<bool>("shown");
    const auto row = [](const char* tag, const char* keys, const char* page, bool shown) {
        QTest::newRow(tag) << QString(keys) << QString(page) << shown;
    };
    row("escape on the notice", "Escape", "noticeWStackPage", false);
    row("cancel by tab", "Tab Enter", "noticeWStackPage", false);
    row("back by tab", "Enter Tab Enter", "noticeWStackPage", true);
    row("nothing ticked", "Enter Enter", "selectWStackPage", true);
    row("space ticks the row", "Enter Down Space Enter", "updateWStackPage", true);
    row("space twice unticks", "Enter Space Space Enter", "selectWStackPage", true);
}

void AccessibilityTest::keysAloneDriveTheWizard()
{
    QFETCH(QString, keys);
    QFETCH(QString, page);
    QFETCH(bool, shown);
    DialogFixture fixture;
    QCOMPARE(pageAfter(fixture, keys)->objectName(), page);
    QCOMPARE(fixture.dialog().isVisible(), shown);
}

void AccessibilityTest::textsFitALargeFont_data()
{
    QTest::addColumn<int>("points");
    QTest::newRow("default") << 0;
    QTest::newRow("16pt") << 16;
    QTest::newRow("24pt") << 24;
}

// Every fixed text fits its widget, a step label in bold too.
void AccessibilityTest::textsFitALargeFont()
{
    QFETCH(int, points);
    const QFont standard = QApplication::font();
    QFont large = standard;
    large.setPointSize(points > 0 ? points : standard.pointSize());
    QApplication::setFont(large);
    DialogFixture fixture;
    QApplication::setFont(standard);
    for (QLabel* label : fixture.dialog().findChildren<QLabel*>()) {
        QFont bold = label->font();
        bold.setBold(true);
        QVERIFY2(QFontMetrics(bold).horizontalAdvance(label->text()) <= label->width() &&
                     QFontMetrics(bold).height() <= label->height(),
                 qPrintable(label->objectName()));
    }
    for (QPushButton* button : fixture.dialog().findChildren<QPushButton*>())
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                 qPrintable(button->objectName()));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
