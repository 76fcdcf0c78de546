// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

namespace media {

// The file a player opened, held open for as long as the player has it, so that the player
// plays that file and no other: a name renamed over, deleted or moved away still reaches
// the held file, and a file written over in place is told from the one that opened.
class OpenedFile {
public:
    OpenedFile() = default;
    ~OpenedFile() { release(); }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    // Holds the file at `encodedPath`; false when it cannot be opened for reading.
    bool hold(const QByteArray& encodedPath);
    void release();
    bool isHeld() const { return fd_ >= 0; }

    enum class Now {
        Same, // the name still leads to the held file, as it was
        Elsewhere, // the name leads elsewhere or nowhere; the held file is as it was
        Changed, // the held file itself was written since it was opened
    };
    Now check() const;

    // A name that reaches the held file whatever became of its own.
    QByteArray heldName() const;

private:
    int fd_ = -1;
    QByteArray path_;
    struct stat opened_ {};
};

} // namespace media
