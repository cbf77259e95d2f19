#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A real description is a few kilobytes, four elements deep and without a
// document type declaration. Anything far beyond that is refused before the
// DOM parse, whose time grows with the square of the nesting depth, of the
// attributes on one element and of the default attributes a declaration adds.
constexpr qsizetype MaxDescriptionBytes = 64 * 1024;
constexpr int MaxDescriptionDepth = 32;

// Why content may not be parsed as a description, or nullopt when it may. One
// streaming pass that stops at the first excess; whether the content is
// well-formed is left to the parse.
std::optional<QString> descriptionRefusal(const QByteArray& content);
