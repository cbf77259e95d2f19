#pragma once

// The status line for a code of the firmware-download library, as untranslated
// source text; nullptr for a code that has none (above 30, or negative).
const char* firmwareStatusText(int code);
