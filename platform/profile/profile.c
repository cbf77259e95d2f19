#include "profile.h"

#include <ini.h>
#include <stdio.h>
#include <stdlib.h>
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

struct line_source {
    FILE* file;
    const char* path;
    char* line;
    size_t capacity;
    int number;
};

// Warned once a process: the settings are read again for every key.
static int warned_of_long_line = 0;

// Hands the parser whole lines only. The parser's own reader reads the rest of
// an overlong line as a line of its own, so text hidden in a comment could set
// a key; such a line is dropped whole instead.
static char* read_whole_line(char* str, int num, void* stream)
{
    struct line_source* source = stream;
    ssize_t length;
    while ((length = getline(&source->line, &source->capacity, source->file)) >= 0) {
        ++source->number;
        const size_t text = (size_t)length - (length > 0 && source->line[length - 1] == '\n');
        if (text < (size_t)num - 1) {
            memcpy(str, source->line, (size_t)length + 1);
            return str;
        }
        if (!warned_of_long_line) {
            fprintf(stderr, "%s: line %d is longer than %d bytes and is ignored\n", source->path,
                    source->number, num - 2);
            warned_of_long_line = 1;
        }
    }
    return NULL;
}

static void parse_whole_lines(const char* path, struct lookup* query)
{
    struct line_source source = {fopen(path, "r"), path, NULL, 0, 0};
    if (source.file == NULL)
        return;
    ini_parse_stream(read_whole_line, &source, on_entry, query);
    free(source.line);
    fclose(source.file);
}

int read_profile_string(const char* section, const char* key, char* buffer, int size,
                        const char* defaultValue, const char* file)
{
    if (buffer == NULL || size <= 0)
        return 0;
    struct lookup query = {section, key, buffer, (size_t)size - 1, 0, 0};
    if (section != NULL && key != NULL && file != NULL)
        parse_whole_lines(file, &query);
    if (!query.found)
        store_value(&query, defaultValue != NULL ? defaultValue : "");
    return query.length;
}
