#pragma once

// The largest window a delta's frames may ask for: the base file the frame
// refers to and the file it makes together. It bounds the updater's memory
// (the window and the mapped base, 32 MiB each at most); larger files go
// into the delta whole.
inline constexpr int maxDeltaWindowLog = 25;
