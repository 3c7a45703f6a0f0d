#pragma once

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <QFile>
#include <QString>

namespace pixavant::testing {

// Removes a folder and all it holds by the bytes of the names, so that names that are not UTF-8
// go too (QDir::removeRecursively cannot name them).
inline void removeTreeByBytes(const QString& dir) {
    ::nftw(
        QFile::encodeName(dir).constData(),
        [](const char* path, const struct stat*, int, FTW*) {
            ::remove(path);  // what cannot be removed is left, as QTemporaryDir would
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

// The regular files in a folder, hidden ones too, found by their bytes.
inline int countFilesByBytes(const QByteArray& dir) {
    int count = 0;
    DIR* stream = ::opendir(dir.constData());
    while (stream != nullptr) {
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr)
            break;
        count += entry->d_type == DT_REG ? 1 : 0;
    }
    if (stream != nullptr)
        ::closedir(stream);
    return count;
}

}  // namespace pixavant::testing
