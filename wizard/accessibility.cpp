#include "wizard/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>

namespace {

bool takesTab(const QWidget* widget)
{
    return widget->isEnabled() && widget->isVisibleTo(widget->window()) &&
           (widget->focusPolicy() & Qt::TabFocus) != 0;
}

// The first control of page in the focus chain, which is its reading order.
QWidget* firstControl(QWidget& page)
{
    for (QWidget* next = page.nextInFocusChain(); next != &page; next = next->nextInFocusChain()) {
        if (page.isAncestorOf(next) && takesTab(next))
            return next;
    }
    return nullptr;
}

// Qt reads a progress bar's value as its bare number; a user reads the
// bar's text ("42 %, 1.9 of 4.5 MB, about 2 minutes left").
class ProgressBarText final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarText(QProgressBar& bar)
        : QAccessibleWidget(&bar, QAccessible::ProgressBar), bar(bar)
    {
    }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? bar.text() : QAccessibleWidget::text(kind);
    }
    void* interface_cast(QAccessible::InterfaceType kind) override
    {
        if (kind == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(kind);
    }
    QVariant currentValue() const override { return bar.value(); }
    void setCurrentValue(const QVariant&) override {} // the update moves it, not the reader
    QVariant maximumValue() const override { return bar.maximum(); }
    QVariant minimumValue() const override { return bar.minimum(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    QProgressBar& bar;
};

QAccessibleInterface* progressBarText(const QString& className, QObject* object)
{
    auto* bar = qobject_cast<QProgressBar*>(object);
    return className == QLatin1String("QProgressBar") && bar != nullptr ? new ProgressBarText(*bar)
                                                                        : nullptr;
}

} // namespace

WizardAccessibility::WizardAccessibility(QStackedWidget& pages) : QObject(&pages), stack(pages)
{
    static const bool factoryInstalled = (QAccessible::installFactory(progressBarText), true);
    Q_UNUSED(factoryInstalled);
    connect(&pages, &QStackedWidget::currentChanged, this, &WizardAccessibility::pageChanged);
}

void WizardAccessibility::setDefaultButton(QWidget* page, QPushButton* button)
{
    defaults.insert(page, button);
}

void WizardAccessibility::letKeysTick(QTableWidget& table)
{
    table.setFocusPolicy(Qt::StrongFocus);
    table.setTabKeyNavigation(false);
    table.installEventFilter(this);
    connect(&table, &QTableWidget::itemChanged, this,
            [&table](QTableWidgetItem* item) { announceTick(table, *item); });
}

void WizardAccessibility::describe(QWidget& widget, const QString& name, const QString& description)
{
    widget.setAccessibleName(name);
    if (!description.isEmpty())
        widget.setAccessibleDescription(description);
}

// Qt sends the change to assistive technology, a repeated line too.
void WizardAccessibility::announceLine(QListWidget& list, const QString& line)
{
    list.setAccessibleDescription(line);
}

void WizardAccessibility::showProgressText(QProgressBar& bar)
{
    bar.setAccessibleDescription(bar.text());
}

void WizardAccessibility::pageChanged(int index)
{
    QWidget* page = stack.widget(index);
    if (QPushButton* button = defaults.value(page))
        button->setDefault(true);
    if (QWidget* control = firstControl(*page))
        control->setFocus(Qt::OtherFocusReason);
}

bool WizardAccessibility::eventFilter(QObject* watched, QEvent* event)
{
    auto* table = qobject_cast<QTableWidget*>(watched);
    if (table == nullptr || event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Space)
        return false;
    tickCurrentRow(*table);
    return true;
}

// A tick changes the cell's state, which the table's model does not tell.
void WizardAccessibility::announceTick(QTableWidget& table, QTableWidgetItem& item)
{
    if (!QAccessible::isActive() || !(item.flags() & Qt::ItemIsUserCheckable))
        return;
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(&table);
    if (view == nullptr || view->tableInterface() == nullptr)
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(view->tableInterface()->cellAt(item.row(), item.column()),
                                      changed);
    QAccessible::updateAccessibility(&event);
}

void WizardAccessibility::tickCurrentRow(QTableWidget& table)
{
    QTableWidgetItem* box = table.item(table.currentRow(), 0);
    if (box == nullptr)
        return;
    box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
