#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// cmupdater-publish lint [DESCRIPTION]: what the updater reads from a
// description, and every problem found in it.
int lintCommand(const QStringList& arguments);

// cmupdater-publish verify --key PUBLIC [DESCRIPTION]: the signature, the
// freshness and the package files beside the description, as the updater checks them.
int verifyCommand(const QStringList& arguments);

// cmupdater-publish sign --key PRIVATE [DESCRIPTION]: writes DESCRIPTION.sig.
int signCommand(const QStringList& arguments);

// The signature over a description's bytes with the private key at key,
// after the checks sign makes; false, the reason said, when it may not be signed.
bool signDescription(const QString& key, const QString& description, const QByteArray& bytes,
                     QByteArray& signature, QString& signer);

// A description file as sign and verify read it: well-formed, of a bounded
// size; nothing, the reason said, otherwise.
std::optional<QByteArray> readDescriptionFile(const QString& path);
