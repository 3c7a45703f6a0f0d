#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

namespace pixavant::testing {

// Integers appended in the byte orders file headers use.
inline void putLe16(QByteArray& b, uint32_t v) {
    b.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
inline void putLe32(QByteArray& b, uint32_t v) {
    putLe16(b, v & 0xffff);
    putLe16(b, v >> 16);
}
inline void putBe32(QByteArray& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((v >> shift) & 0xff));
}

inline bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace pixavant::testing
