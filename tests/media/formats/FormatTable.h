// SPDX-License-Identifier: MIT
#pragma once

#include "FormatMeasure.h"

#include <QString>
#include <optional>
#include <vector>

// The measured rows as the README's Markdown table, between two marker comments, and back.
namespace formats {

inline constexpr const char* kBeginMarker = "<!-- formats: written by `make formats` -->";
inline constexpr const char* kEndMarker = "<!-- formats: end -->";

struct Table {
    Release release;
    std::vector<Row> rows;
};

// The line that says which release measured the table, then the table.
QString renderTable(const Table& table);

// Puts `table` between the markers of the text; std::nullopt when they are missing.
std::optional<QString> replaceTable(const QString& text, const QString& table);

// The table between the markers of the text: no rows when there are none, an empty release
// when no line says which measured it.
Table parseTable(const QString& text);

} // namespace formats
