#pragma once

#include <QByteArray>

#include <chrono>

// A setting of whole seconds from minimum to maximum; anything else gets a
// warning line that names key, and fallback.
std::chrono::seconds secondsSetting(const char* key, const QByteArray& text, int minimum,
                                    int maximum, int fallback);
