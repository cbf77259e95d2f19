#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdio>
#include <optional>

// One chosen package of a run: the version it replaced, the version offered,
// and how its step ended ("installed", "rolled-back", "failed", "refused").
struct ModuleRecord {
    QString from;
    QString to;
    QString outcome;
    QString download{}; // "delta" or "full" for a package, else empty
};

// One updater run or one recovery at start, as "update-history.jsonl" keeps
// it: a JSON object on one line. Never holds a password or a key.
struct HistoryRecord {
    QDateTime started;
    QDateTime ended;
    QString result; // "installed", "rolled-back", "failed", "refused", "cancelled", "recovered"
    QString reason; // a short code, empty when all went well
    std::optional<ModuleRecord> software; // absent when not chosen
    std::optional<ModuleRecord> firmware;
    qint64 bytes = 0; // downloaded in the run

    QByteArray toJson() const;
};

// The history's file in the installation directory.
inline constexpr char historyFileName[] = "update-history.jsonl";
// How many records the file keeps.
inline constexpr int historyLimit = 200;

QString historyPath(const QString& basePath);

// Appends record, synced to disk, as one line; when the file is full or its
// last line was cut off, writes a new file with the records kept and renames
// it over the old one. False when the record could not be written.
bool appendHistory(const QString& basePath, const HistoryRecord& record, int limit = historyLimit);

// The complete lines of the file, oldest first.
QList<QByteArray> readHistory(const QString& basePath);

// The records as a table, or with json the lines as they are stored.
void printHistory(const QString& basePath, bool json, std::FILE* out);

// For "cmupdater --history [--json]": prints the history of the installation
// the running executable belongs to; 0, or 2 for arguments it does not take.
int runHistoryCommand(int argc, char** argv);
