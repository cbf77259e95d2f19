#pragma once

#include "agent/foldersource.h"
#include "base/installation.h"

#include <QByteArray>

#include <optional>

class QApplication;

// The application, once start-up has made it.
extern QApplication* app;

// 0 when this process now holds the single-instance lock, 1 when another one
// does. Ends the process with status 1 when the lock file cannot be used.
int already_running();

// The installation this updater belongs to (its own directory), read once;
// after the application object exists. Nullopt, with one line, when its path
// is too long for the agent.
std::optional<Installation> loadOwnInstallation(const char* command);

// The seven lines the parent reads, byte for byte as the settings hold them.
void printReport(const Installation& installation);

// Installs the translation basePath + "/translations/cmupdater_" + language
// when there is one; the built-in English texts stay otherwise.
bool installTranslation(const QString& basePath, const QByteArray& language);

// The whole updater, from the lock to the end of the event loop; with a
// folder, the release comes from there.
int runUpdater(int argc, char** argv, std::optional<FolderOrigin> folder = std::nullopt);
