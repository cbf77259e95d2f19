#pragma once

// Settings reader of the platform: INI files with [section] and key=value lines.

#ifdef __cplusplus
extern "C" {
#endif

// Writes the value of key in section of file into buffer, or defaultValue when the
// file, the section or the key is missing. The result is always NUL-terminated and
// at most size - 1 bytes long. Returns the length written.
int read_profile_string(const char* section, const char* key, char* buffer, int size,
                        const char* defaultValue, const char* file);

#ifdef __cplusplus
}
#endif
