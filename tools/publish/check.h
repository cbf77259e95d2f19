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

// The checks of verify on the release beside description: with key as an
// installation holding it checks the signature; without, by the key list
// beside it, which must be there then. Every package must lie beside it. 0
// when it passed, failedStatus with each problem said otherwise.
int verifyRelease(const QString& description, const QString& key);

// cmupdater-publish sign --key PRIVATE [DESCRIPTION]: writes DESCRIPTION.sig.
int signCommand(const QStringList& arguments);

// The signature over a description's bytes with the private key at key,
// after the checks sign makes; false, the reason said, when it may not be signed.
bool signDescription(const QString& key, const QString& description, const QByteArray& bytes,
                     QByteArray& signature, QString& signer);

// A description file as sign and verify read it: well-formed, of a bounded
// size; nothing, the reason said, otherwise.
std::optional<QByteArray> readDescriptionFile(const QString& path);
