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

QString renderTable(const std::vector<Row>& rows);

// Puts `table` between the markers of the text; std::nullopt when they are missing.
std::optional<QString> replaceTable(const QString& text, const QString& table);

// The rows between the markers of the text; empty when there are none.
std::vector<Row> parseTable(const QString& text);

} // namespace formats
