#include "wizard/cmupdater.h"

#include "wizard/accessibility.h"
#include "wizard/guithread.h"
#include "wizard/messagebox.h"
#include "wizard/textfit.h"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>

CMUpdater* CMUpdater::cmupdater = nullptr;

namespace {

const QColor blue(0, 0, 255);
const QColor black(0, 0, 0);
// Long enough for a screen reader to read the last line told.
constexpr std::chrono::milliseconds readerLinger{2000};

void setForeground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QFrame* makeFrame(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Raised);
    setForeground(frame, blue);
    return frame;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    setForeground(label, black);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QWidget* makePage(QStackedWidget* stack, const char* name)
{
    auto* page = new QWidget(stack);
    page->setObjectName(QLatin1String(name));
    return page;
}

} // namespace

CMUpdater::CMUpdater(UpdateSession& session, QWidget* parent, const char* name, bool modal,
                     Qt::WindowFlags flags)
    : QDialog(parent, flags), run(session)
{
    setObjectName(QLatin1String(name != nullptr ? name : "CMUpdater"));
    setModal(modal);
    const QSize fixedSize(430, 345);
    setMinimumSize(fixedSize);
    setMaximumSize(fixedSize);
    setBaseSize(fixedSize);

    centerStack = new QStackedWidget(this);
    centerStack->setObjectName(QStringLiteral("centerStack"));
    centerStack->setGeometry(0, 0, 430, 345);
    buildNoticePage();
    buildSelectPage();
    buildUpdatePage();
    buildCheckPage();
    // Every control takes the keyboard's focus: a user without a mouse must
    // be able to leave each page.
    auto* access = new WizardAccessibility(*centerStack); // owned by the stack
    access->setDefaultButton(noticeWStackPage, noticeNext);
    access->setDefaultButton(selectWStackPage, selectUpdate);
    access->letKeysTick(*selectTable);
    centerStack->setCurrentWidget(checkWStackPage);

    boldFont.setWeight(QFont::Bold);
    normalFont.setWeight(QFont::Normal);
    languageChange();
    resize(QSize(600, 480).expandedTo(minimumSizeHint()));
    cmupdater = this;
    run.attach(*this);
}

CMUpdater::~CMUpdater()
{
    if (cmupdater == this)
        cmupdater = nullptr;
}

void CMUpdater::buildNoticePage()
{
    noticeWStackPage = makePage(centerStack, "noticeWStackPage");
    noticeFrame = makeFrame(noticeWStackPage, "noticeFrame", {10, 10, 410, 220});
    descriptionNotice = makeLabel(noticeFrame, "descriptionNotice", {10, 70, 120, 21});
    descriptionNoticeContent =
        makeLabel(noticeFrame, "descriptionNoticeContent", {10, 100, 390, 21});
    versionNotice = makeLabel(noticeFrame, "versionNotice", {10, 40, 75, 21});
    versionNoticeContent = makeLabel(noticeFrame, "versionNoticeContent", {90, 40, 100, 21});
    notice = makeLabel(noticeFrame, "notice", {10, 10, 90, 21});
    noticeNext = makeButton(noticeWStackPage, "noticeNext", {175, 290, 80, 30});
    connect(noticeNext, &QPushButton::clicked, this, &CMUpdater::noticeNextClicked);
    noticeCancel = makeButton(noticeWStackPage, "noticeCancel", {295, 290, 80, 30});
    connect(noticeCancel, &QPushButton::clicked, this, &CMUpdater::cancelClicked);
    centerStack->addWidget(noticeWStackPage);
}

void CMUpdater::buildSelectPage()
{
    selectWStackPage = makePage(centerStack, "selectWStackPage");
    selectTable = new QTableWidget(selectWStackPage);
    selectTable->setObjectName(QStringLiteral("selectTable"));
    selectTable->setGeometry(10, 10, 410, 150);
    selectTable->verticalHeader()->hide();
    selectTable->setFrameShape(QFrame::StyledPanel);
    selectTable->setFrameShadow(QFrame::Plain);
    selectTable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    selectTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    selectTable->setRowCount(6);
    selectTable->setColumnCount(5);
    selectTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    selectTable->horizontalHeader()->setMinimumSectionSize(0); // the check box column is 15 wide
    const int widths[] = {15, 190, 60, 85, 60};
    for (int column = 0; column < 5; ++column)
        selectTable->setColumnWidth(column, widths[column]);
    selectTable->setSelectionMode(QAbstractItemView::SingleSelection);
    selectTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    selectTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    selectTable->clearSelection();
    connect(selectTable, &QTableWidget::itemSelectionChanged, this, &CMUpdater::showPackageDes);

    selectFrame = makeFrame(selectWStackPage, "selectFrame", {10, 170, 410, 100});
    descriptionselect = makeLabel(selectFrame, "descriptionselect", {10, 20, 390, 40});
    selectRateLabel = makeLabel(selectFrame, "selectRateLabel", {10, 70, 390, 21});
    selectBack = makeButton(selectWStackPage, "selectBack", {55, 290, 80, 30});
    connect(selectBack, &QPushButton::clicked, this, &CMUpdater::selectBackClicked);
    selectUpdate = makeButton(selectWStackPage, "selectUpdate", {175, 290, 80, 30});
    connect(selectUpdate, &QPushButton::clicked, this, &CMUpdater::selectUpdateClicked);
    selectCancel = makeButton(selectWStackPage, "selectCancel", {295, 290, 80, 30});
    connect(selectCancel, &QPushButton::clicked, this, &CMUpdater::cancelClicked);
    centerStack->addWidget(selectWStackPage);
}

void CMUpdater::buildUpdatePage()
{
    updateWStackPage = makePage(centerStack, "updateWStackPage");
    updateListbox = new QListWidget(updateWStackPage);
    updateListbox->setObjectName(QStringLiteral("updateListbox"));
    updateListbox->setGeometry(200, 10, 220, 200);
    // A long line wraps: a user must read it, not scroll for it.
    updateListbox->setWordWrap(true);
    updateListbox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    updateProgressBar = new QProgressBar(updateWStackPage);
    updateProgressBar->setObjectName(QStringLiteral("updateProgressBar"));
    updateProgressBar->setGeometry(10, 240, 410, 25);
    updateProgressBar->setRange(0, 100);
    updateCancel = makeButton(updateWStackPage, "updateCancel", {295, 290, 80, 30});
    connect(updateCancel, &QPushButton::clicked, this, &CMUpdater::updateCancelClicked);
    downloadLabel = makeLabel(updateWStackPage, "downloadLabel", {10, 20, 160, 21});
    updateFWLabel = makeLabel(updateWStackPage, "updateFWLabel", {10, 80, 160, 21});
    updateSWLabel = makeLabel(updateWStackPage, "updateSWLabel", {10, 140, 160, 21});
    updateEndLabel = makeLabel(updateWStackPage, "updateEndLabel", {10, 200, 160, 21});
    centerStack->addWidget(updateWStackPage);
    updateCancel->hide();
}

void CMUpdater::buildCheckPage()
{
    checkWStackPage = makePage(centerStack, "checkWStackPage");
    checkFrame = makeFrame(checkWStackPage, "checkFrame", {10, 10, 410, 220});
    checkInfo = makeLabel(checkFrame, "checkInfo", {10, 10, 120, 21});
    centerStack->addWidget(checkWStackPage);
}

CMUpdater* CMUpdater::getUpdater()
{
    return cmupdater;
}

void CMUpdater::languageChange()
{
    setWindowTitle(tr("Updater"));
    noticeNext->setText(tr("Next"));
    selectUpdate->setText(tr("Update"));
    selectBack->setText(tr("Back"));
    noticeCancel->setText(tr("Cancel"));
    selectCancel->setText(tr("Cancel"));
    updateCancel->setText(tr("Cancel"));
    descriptionNotice->setText(tr("Description:"));
    versionNotice->setText(tr("Version:"));
    notice->setText(tr("new version"));
    checkInfo->setText(tr("Check update..."));
    downloadLabel->setText(tr("1.Download packages"));
    updateFWLabel->setText(tr("2.Update firmware"));
    updateSWLabel->setText(tr("3.Update software"));
    updateEndLabel->setText(tr("4.Update end"));
    const char* columns[] = {"", QT_TR_NOOP("Kind"), QT_TR_NOOP("Version"), QT_TR_NOOP("Size(KB)"),
                             QT_TR_NOOP("Priority")};
    QStringList labels;
    for (const char* column : columns)
        labels << tr(column);
    selectTable->setHorizontalHeaderLabels(labels);
    nameControls();
    fitToText(*this);
}

void CMUpdater::startWatchdog()
{
    run.startWatchdog();
}

void CMUpdater::getDesc()
{
    run.startCheck();
}

void CMUpdater::HaveNewVersion()
{
    run.HaveNewVersion();
}

void CMUpdater::ManualUpdateState(int state)
{
    run.ManualUpdateState(state);
}

void CMUpdater::DownloadProcess(QString filename, int percent)
{
    run.DownloadProcess(std::move(filename), percent);
}

void CMUpdater::DownloadFinished(bool ok)
{
    run.DownloadFinished(ok);
}

void CMUpdater::createSelectxml(SelectedModule module)
{
    run.createSelectxml(module);
}

bool CMUpdater::updateSW()
{
    return run.updateSW();
}

bool CMUpdater::updateFW()
{
    return run.updateFW();
}

int CMUpdater::getPDLData(_PDLData* data)
{
    return run.getPDLData(data);
}

void CMUpdater::setTiming(const Timing& timing)
{
    run.setTiming(timing);
}

void CMUpdater::setProcessEnd(std::function<void(int)> end)
{
    run.setProcessEnd(std::move(end));
}

void CMUpdater::checkAnswered(const CheckReport& report)
{
    if (report.outcome.result == Result::Offered)
        noticeShow();
    else if (report.endText != nullptr)
        showCheckEnd(report);
}

bool CMUpdater::keepPrivateData()
{
    bool keep = false;
    onGuiThread([this, &keep] {
        keep = MessageBox::question(this, tr("Warning"), tr("Backup your private data?")) ==
               QMessageBox::Yes;
    });
    return keep;
}

QLabel* CMUpdater::stepLabel(UpdateStep step) const
{
    switch (step) {
    case UpdateStep::Download:
        return downloadLabel;
    case UpdateStep::Firmware:
        return updateFWLabel;
    case UpdateStep::Software:
        return updateSWLabel;
    case UpdateStep::End:
        break;
    }
    return updateEndLabel;
}

// After the download the bar shows the plain percentage again.
void CMUpdater::setProgress(int percent)
{
    setProgress(percent, QStringLiteral("%p%"));
}

// The bar fills in only "%p", "%v" and "%m"; a "%" before a space stays.
void CMUpdater::setProgress(int percent, const QString& text)
{
    onGuiThread([this, percent, text] {
        updateProgressBar->setValue(percent);
        updateProgressBar->setFormat(text);
        WizardAccessibility::showProgressText(*updateProgressBar);
    });
}

void CMUpdater::appendLine(const char* text)
{
    onGuiThread([this, text] { addStatusLine(tr(text)); });
}

void CMUpdater::appendLine(const char* text, const QStringList& arguments)
{
    onGuiThread([this, text, arguments] {
        QString line = tr(text);
        for (const QString& argument : arguments)
            line = line.arg(argument);
        addStatusLine(line);
    });
}

void CMUpdater::appendLineOnce(const char* text, const QString& scope)
{
    onGuiThread([this, text, scope] {
        const QString line = tr(text);
        const QList<QListWidgetItem*> same = updateListbox->findItems(line, Qt::MatchFixedString);
        const bool added = std::any_of(same.begin(), same.end(), [&scope](QListWidgetItem* item) {
            return scope.isEmpty() || item->data(Qt::UserRole).toString() == scope;
        });
        if (!added)
            addStatusLine(line, scope);
    });
}

// The newest line stays in view as the list grows.
void CMUpdater::addStatusLine(const QString& line, const QString& scope)
{
    auto* item = new QListWidgetItem(line);
    if (!scope.isEmpty())
        item->setData(Qt::UserRole, scope);
    updateListbox->addItem(item);
    updateListbox->scrollToBottom();
    WizardAccessibility::announceLine(*updateListbox, line);
}

void CMUpdater::markStep(UpdateStep step)
{
    onGuiThread([this, step] {
        if (step == UpdateStep::Download)
            showUpdatePage();
        stepLabel(step)->setFont(boldFont);
    });
}

void CMUpdater::unmarkStep(UpdateStep step)
{
    onGuiThread([this, step] { stepLabel(step)->setFont(normalFont); });
}

void CMUpdater::hideDialog()
{
    onGuiThread([this] { hide(); });
}

void CMUpdater::showWarning(const QList<const char*>& texts)
{
    onGuiThread([this, texts] {
        QStringList paragraphs;
        for (const char* text : texts)
            paragraphs << tr(text);
        MessageBox::warning(this, tr("Warning"), paragraphs.join(QLatin1String("\n\n")));
    });
}

// Posted, not waited for: the watchdog ends the process right after it. With
// a screen reader listening, the window lingers a moment: the toolkit tells a
// change without its text, which the reader asks for afterwards, and the end
// of the update would otherwise never be heard.
void CMUpdater::endEventLoop(int code)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [code] {
            QTimer::singleShot(
                QAccessible::isActive() ? readerLinger : std::chrono::milliseconds(0),
                QCoreApplication::instance(), [code] { QCoreApplication::exit(code); });
        },
        Qt::QueuedConnection);
}
