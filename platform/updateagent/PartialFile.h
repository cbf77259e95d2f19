#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace updateagent {

// What the bytes of a partial file are the beginning of: the size and MD5 the
// selection expects and the validator of the source that sent them.
struct PartIdentity {
    std::optional<qint64> size;
    QByteArray md5; // lower-case hex, empty when not checked
    std::string validator;

    bool operator==(const PartIdentity&) const = default;
    // Without an MD5 or a validator nothing tells that a later transfer continues
    // the same file.
    bool canBeContinued() const { return !md5.isEmpty() || !validator.empty(); }
};

// A package that has not fully arrived: its bytes in "<name>.part" beside the
// target, its identity in "<name>.part.id". The identity file is written whole
// (temporary file and rename); a part without one is never continued.
class PartialFile final {
public:
    explicit PartialFile(const QString& target);

    const QString& target() const { return target_; }
    const QString& dataPath() const { return dataPath_; }
    // The identity stored with the part; nullopt when there is none or it is not
    // one this agent wrote.
    std::optional<PartIdentity> storedIdentity() const;
    bool remember(const PartIdentity& identity) const;
    void forget() const;
    // Removes the bytes and the identity.
    void discard() const;

private:
    QString target_;
    QString dataPath_;
    QString identityPath_;
};

// The identity file's text, and back; nullopt for text that is not a valid one.
QByteArray identityText(const PartIdentity& identity);
std::optional<PartIdentity> parseIdentity(const QByteArray& text);

} // namespace updateagent
