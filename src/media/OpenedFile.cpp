// SPDX-License-Identifier: MIT
#include "media/OpenedFile.h"

#include <fcntl.h>
#include <unistd.h>

namespace media {

bool OpenedFile::hold(const QByteArray& encodedPath)
{
    release();
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    if (::fstat(fd, &opened_) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = encodedPath;
    return true;
}

void OpenedFile::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    path_.clear();
}

OpenedFile::Now OpenedFile::check() const
{
    struct stat held {};
    if (fd_ < 0 || ::fstat(fd_, &held) != 0)
        return Now::Same;
    // Written over in place (an encoder or editor that truncates and rewrites its output):
    // the same file, other sound. Its size or its modification time tell.
    if (held.st_size != opened_.st_size || held.st_mtim.tv_sec != opened_.st_mtim.tv_sec
        || held.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec)
        return Now::Changed;
    struct stat named {};
    if (::stat(path_.constData(), &named) != 0 || named.st_dev != held.st_dev
        || named.st_ino != held.st_ino)
        return Now::Elsewhere;
    return Now::Same;
}

QByteArray OpenedFile::heldName() const
{
    return "/proc/self/fd/" + QByteArray::number(fd_);
}

} // namespace media
