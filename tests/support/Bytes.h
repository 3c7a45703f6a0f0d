#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <initializer_list>
#include <vector>

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

// The bytes of the values given, each taken modulo 256.
inline QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray b;
    for (const int v : values)
        b.append(char(v & 0xff));
    return b;
}

inline QByteArray toBytes(const std::vector<uint8_t>& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

inline std::vector<uint8_t> toVector(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
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
