#pragma once

// Flushes the standard streams and ends the process at once, without running
// destructors: the agent's thread may still be inside a callback.
[[noreturn]] void terminateProcess(int status);
