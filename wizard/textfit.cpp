#include "wizard/textfit.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QtMath>

#include <algorithm>

namespace {

constexpr char layoutProperty[] = "cmupdater_layout";
constexpr char columnsProperty[] = "cmupdater_columns";
// Room a header section's text needs beside it: margins and a sort mark.
constexpr int headerPadding = 12;
// A button's frame and margins around its text, as the styles draw them.
constexpr QSize buttonPadding(16, 10);

// Widgets the window places itself; a layout's, the toolkit's own parts and
// the widgets inside a table are placed by their owner.
QList<QWidget*> placedWidgets(QWidget& window)
{
    QList<QWidget*> placed;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        const QWidget* parent = widget->parentWidget();
        if (!widget->isWindow() && parent->layout() == nullptr && !widget->objectName().isEmpty() &&
            !widget->objectName().startsWith("qt_"))
            placed << widget;
    }
    return placed;
}

template <typename Value> Value original(QObject& object, const char* name, const Value& now)
{
    if (!object.property(name).isValid())
        object.setProperty(name, QVariant::fromValue(now));
    return object.property(name).value<Value>();
}

QSize neededSize(QWidget& widget)
{
    if (auto* label = qobject_cast<QLabel*>(&widget)) {
        QFont bold = label->font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        return {metrics.horizontalAdvance(label->text()) + 2 * label->margin(),
                std::max(metrics.height(), label->sizeHint().height())};
    }
    if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
        const QFontMetrics metrics(button->font());
        return {metrics.horizontalAdvance(button->text()) + buttonPadding.width(),
                metrics.height() + buttonPadding.height()};
    }
    return {};
}

double factorFor(QSize needed, QSize available)
{
    if (needed.isEmpty() || available.isEmpty())
        return 1.0;
    return std::max(double(needed.width()) / available.width(),
                    double(needed.height()) / available.height());
}

double headerFactor(QTableView& table, const QList<int>& widths)
{
    double factor = 1.0;
    const QFontMetrics metrics(table.horizontalHeader()->font());
    for (int column = 0; column < widths.size(); ++column) {
        const QString text = table.model()->headerData(column, Qt::Horizontal).toString();
        if (!text.isEmpty())
            factor = std::max(factor, double(metrics.horizontalAdvance(text) + headerPadding) /
                                          widths[column]);
    }
    return factor;
}

QList<int> originalColumns(QTableView& table)
{
    QList<int> widths;
    for (int column = 0; column < table.model()->columnCount(); ++column)
        widths << table.columnWidth(column);
    return original(table, columnsProperty, widths);
}

int scaled(int length, double factor)
{
    return qCeil(length * factor);
}

QRect scaled(const QRect& rect, double factor)
{
    return {scaled(rect.x(), factor), scaled(rect.y(), factor), scaled(rect.width(), factor),
            scaled(rect.height(), factor)};
}

} // namespace

void fitToText(QWidget& window)
{
    const QSize windowSize = original(window, layoutProperty, window.minimumSize());
    const QList<QWidget*> placed = placedWidgets(window);
    double factor = 1.0;
    for (QWidget* widget : placed) {
        const QRect layout = original(*widget, layoutProperty, widget->geometry());
        factor = std::max(factor, factorFor(neededSize(*widget), layout.size()));
        if (auto* table = qobject_cast<QTableView*>(widget))
            factor = std::max(factor, headerFactor(*table, originalColumns(*table)));
    }
    window.setFixedSize(scaled(windowSize.width(), factor), scaled(windowSize.height(), factor));
    for (QWidget* widget : placed) {
        widget->setGeometry(scaled(widget->property(layoutProperty).toRect(), factor));
        if (auto* table = qobject_cast<QTableView*>(widget)) {
            const QList<int> widths = originalColumns(*table);
            for (int column = 0; column < widths.size(); ++column)
                table->setColumnWidth(column, scaled(widths[column], factor));
        }
    }
}
