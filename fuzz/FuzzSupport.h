#pragma once

// What the fuzz targets share: a private scratch folder, the input as text, and a check that
// stops the run with a message when a promise of the code under test is broken (the fuzzer
// then keeps the input as a crash).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define QF_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A folder of this process's own, removed when the process ends normally.
inline const QTemporaryDir& FuzzScratch() {
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qf-fuzz-XXXXXX"));
    QF_FUZZ_CHECK(dir.isValid());
    return dir;
}

inline QByteArray InputBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Replaces the file with exactly these bytes.
inline void WriteWholeFile(const QString& path, const uint8_t* data, size_t size) {
    QFile file(path);
    QF_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QF_FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

// Text from bytes in two ways, so that both what a network answer decodes to (UTF-8, with
// U+FFFD for bad sequences) and what only a QString can hold (lone surrogates, any code unit)
// are reached: a first byte with its lowest bit set takes the rest as UTF-16.
inline QString InputText(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {};
    const QByteArray rest = bytes.mid(1);
    if (bytes[0] & 1)
        return QString(reinterpret_cast<const QChar*>(rest.constData()), rest.size() / 2);
    return QString::fromUtf8(rest);
}
