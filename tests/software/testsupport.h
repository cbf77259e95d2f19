#pragma once

#include "base/shell.h"
#include "software/updateview.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

// Records every line as "$ " + line in a journal instead of running it, and
// installs itself as the shell runner while it lives.
class RecordingRunner final : public ShellRunner {
public:
    explicit RecordingRunner(QStringList* journal);
    ~RecordingRunner() override;

    // Lines that begin with prefix return status; all others return 0.
    void answer(const QString& prefix, int status);
    int run(const QString& line) override;

private:
    QStringList* journal;
    QList<QPair<QString, int>> answers;
};

// Records what the update steps show, in the same journal as the lines.
class RecordingView final : public UpdateView {
public:
    explicit RecordingView(QStringList* journal) : journal(journal) {}

    void setProgress(int percent) override;
    void appendLine(const char* text) override;
    void appendLineOnce(const char* text, const QString& scope) override;
    void markStep(UpdateStep step) override;
    void unmarkStep(UpdateStep step) override;
    void hideDialog() override;
    void showWarning(const QList<const char*>& texts) override;
    void endEventLoop(int code) override;

private:
    QStringList* journal;
};

// The wait status of a shell whose command exited with code.
constexpr int exitedWith(int code)
{
    return code << 8;
}

// The entries of journal that begin with prefix, with the prefix cut off.
QStringList entriesWith(const QStringList& journal, const QString& prefix);
// Every "@" in the entries replaced by base.
QStringList expanded(const QStringList& entries, const QString& base);

void writeFile(const QString& path, const QByteArray& content);
// Writes each (relative name, content) pair under root.
void writeTree(const QString& root, const QList<QPair<QString, QByteArray>>& files);
void writeExecutable(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// The same for a name that is bytes in no particular encoding.
void writeRawFile(const QByteArray& path, const QByteArray& content);
QByteArray readRawFile(const QByteArray& path);
// Every entry under root, hidden ones included, keyed by its name's bytes as
// Latin-1: a file's content, "-> " and a link's target, or "<dir>".
QMap<QString, QByteArray> snapshot(const QString& root);
// Packs the content of sourceDir into zipPath with the zip tool.
bool makeZip(const QString& sourceDir, const QString& zipPath);
