#pragma once

#include "Selection.h"
#include "Transfer.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace updateagent {

// Where an entry is fetched from: its URL when that names a scheme, otherwise the
// FTP server of the selection with the URL (or, without one, the file name) as the
// path there, logged in with the server's user name and password. nullopt when no
// usable address can be made.
std::optional<TransferRequest> packageSource(const UpdateFileEntry& entry, const FtpServer& server);

// One place a package may come from: its own address (mirror 0) or a mirror's
// (its position in the selection's list, from 1).
struct PackageOrigin {
    TransferRequest request;
    int mirror = 0;
};

// The file name, a plain one, under each usable mirror base in turn. A base is
// used only when it is an http or https URL with a host, without control
// characters, query or fragment: the list comes signed but is still input.
std::vector<PackageOrigin> mirrorSources(const QStringList& bases, const QString& fileName);

// Which origin of a package is tried, in order and round after round; one
// that has shown it cannot serve the package is left out from then on.
class OriginTurns final {
public:
    explicit OriginTurns(std::size_t count) : usable_(count, true) {}

    std::size_t current() const { return current_; }
    void dropCurrent() { usable_[current_] = false; }
    // Moves on to the next usable origin; false when none is left. A move past
    // the last one starts a new round.
    bool advance();
    bool roundEnded() const { return roundEnded_; }

private:
    std::vector<bool> usable_;
    std::size_t current_ = 0;
    bool roundEnded_ = false;
};

} // namespace updateagent
