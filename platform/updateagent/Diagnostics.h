#pragma once

#include <QString>

namespace updateagent {

// One developer line on the host's warning channel; the updater sends it to stderr.
void warn(const QString& message);

} // namespace updateagent
