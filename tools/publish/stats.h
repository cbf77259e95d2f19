#pragma once

#include <QStringList>

// cmupdater-publish stats [--since TIME] [--json] [--halt-above SHARE --min N
// --description D --key K] LOG...: the outcome reports in web-server access
// logs, per release and device; pauses a release that fails too often.
int statsCommand(const QStringList& arguments);

// The lower bound of the 95 % Wilson score interval of failures in reports.
double wilsonLowerBound(qint64 failures, qint64 reports);
