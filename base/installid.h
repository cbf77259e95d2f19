#pragma once

#include <QByteArray>
#include <QString>

// The installation's pseudonymous id: 128 random bits as 32 lowercase hex
// digits. It only seeds this machine's place in a staged release and never
// leaves the machine; it is not derived from the IMEI, a MAC or machine-id.
inline constexpr char installIdFileName[] = "install-id";

// The id kept in the installation, written (root's, mode 0600, all or
// nothing) the first time it is asked for or when the file holds no id.
// Empty when there is none and none could be written.
QByteArray installationId(const QString& basePath);
