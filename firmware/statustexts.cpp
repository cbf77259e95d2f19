#include "firmware/statustexts.h"

#include <QtGlobal>

#include <iterator>

namespace {

const char* const statusTexts[] = {
    QT_TRANSLATE_NOOP("CMUpdater", "Downloading..."),
    QT_TRANSLATE_NOOP("CMUpdater", "Enter Download Mode"),
    QT_TRANSLATE_NOOP("CMUpdater", "Close Autorun"),
    QT_TRANSLATE_NOOP("CMUpdater", "Reset DMP"),
    QT_TRANSLATE_NOOP("CMUpdater", "Backup NV"),
    QT_TRANSLATE_NOOP("CMUpdater", "Switch to Download Mode"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Armprg"),
    QT_TRANSLATE_NOOP("CMUpdater", "Skip Armprg"),
    QT_TRANSLATE_NOOP("CMUpdater", "Dwonload Partition table"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Qcsbl File"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Oemsbl File"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Version File"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Efs File"),
    QT_TRANSLATE_NOOP("CMUpdater", "Reset SDP"),
    QT_TRANSLATE_NOOP("CMUpdater", "Restore NV"),
    QT_TRANSLATE_NOOP("CMUpdater", "Close Download Mode"),
    QT_TRANSLATE_NOOP("CMUpdater", "Open Autorun"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Download Successfully"),
    QT_TRANSLATE_NOOP("CMUpdater", "No Device"),
    QT_TRANSLATE_NOOP("CMUpdater", "Open File Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Create NV File Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Backup NV Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Switch Down Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Device Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Down PRG Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Switch CHPRG Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Down Ver Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Restart Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Restore Failed"),
    QT_TRANSLATE_NOOP("CMUpdater", "Downloading PRG"),
};
static_assert(std::size(statusTexts) == 31);

} // namespace

const char* firmwareStatusText(int code)
{
    const auto index = static_cast<unsigned>(code);
    return index < std::size(statusTexts) ? statusTexts[index] : nullptr;
}
