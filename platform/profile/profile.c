#include "profile.h"

#include <ini.h>
#include <string.h>

struct lookup {
    const char* section;
    const char* key;
    char* buffer;
    size_t room; // bytes that may hold characters, the terminator excluded
    int found;
    int length;
};

static int store_value(struct lookup* query, const char* value)
{
    size_t length = strlen(value);
    if (length > query->room)
        length = query->room;
    memcpy(query->buffer, value, length);
    query->buffer[length] = '\0';
    query->length = (int)length;
    return 1;
}

static int on_entry(void* user, const char* section, const char* key, const char* value)
{
    struct lookup* query = user;
    // The first occurrence wins, as with the classic profile readers.
    if (!query->found && strcmp(section, query->section) == 0 && strcmp(key, query->key) == 0) {
        query->found = 1;
        store_value(query, value);
    }
    return 1;
}

int read_profile_string(const char* section, const char* key, char* buffer, int size,
                        const char* defaultValue, const char* file)
{
    if (buffer == NULL || size <= 0)
        return 0;
    struct lookup query = {section, key, buffer, (size_t)size - 1, 0, 0};
    if (section != NULL && key != NULL && file != NULL)
        ini_parse(file, on_entry, &query);
    if (!query.found)
        store_value(&query, defaultValue != NULL ? defaultValue : "");
    return query.length;
}
