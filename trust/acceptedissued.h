#pragma once

#include <QString>

#include <optional>

// The newest "Issued" time this installation has accepted, kept in a small
// state file in the installation directory so that an older description,
// however validly signed, is not taken again.
class AcceptedIssued final {
public:
    explicit AcceptedIssued(const QString& basePath);

    enum class State { None, Known, Unreadable };
    State state() const { return state_; }
    qint64 seconds() const { return seconds_; }

    // Replaces the state file all-or-nothing and durably; false when it could not.
    bool record(qint64 issued);

    QString path() const { return path_; }

private:
    QString path_;
    State state_ = State::None;
    qint64 seconds_ = 0;
};
