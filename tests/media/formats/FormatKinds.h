// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <vector>

// The kinds of sound file people bring, each made from one source with the encoder people
// use for it, and the file whose samples it must decode to.
namespace formats {

struct Kind {
    QString name; // the table's first column, and the row's key
    QString command; // makes `file` in the work folder; empty when no encoder can
    QString file;
    QString reference; // a file sox reads that holds the samples `file` must decode to
    bool lossless = false;
    QString missing; // why no file could be made, when `command` is empty
};

const std::vector<Kind>& kinds();

// The commands that make the source and the inputs some kinds are encoded from, for a
// source of `seconds`.
std::vector<QString> sourceCommands(int seconds);

// Runs `command` in `folder` as the table shows it: sox repeatable (-R) and ffmpeg quiet,
// overwriting, never reading the terminal. Returns its complaint, empty on success.
QString runCommand(const QString& command, const QString& folder);

// Makes `kind`'s file in `folder`, replacing one left there by an earlier run (flac and
// wavpack refuse to write over a file). Returns the complaint, empty on success or when no
// encoder can make the kind.
QString makeKind(const Kind& kind, const QString& folder);

} // namespace formats
