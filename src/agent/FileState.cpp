#include "FileState.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace corvane {

FileState FileState::of(const QString& path) {
    FileState state;
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return state;
    state.exists = true;
    state.isFile = S_ISREG(info.st_mode);
    state.identity = quint64(info.st_ino) ^ (quint64(info.st_dev) << 48);
    state.size = qint64(info.st_size);
    // Nanoseconds: two writes within one millisecond must still differ.
    state.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#else
    const QFileInfo info(path);
    state.exists = info.exists();
    state.isFile = info.isFile();
    // No inode here; a file's creation time tells a replacement apart.
    state.identity = quint64(info.birthTime().toMSecsSinceEpoch());
    state.size = info.size();
    state.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return state;
}

} // namespace corvane
