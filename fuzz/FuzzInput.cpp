#include "FuzzInput.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <iterator>

#include "imaging/MagickRuntime.h"

namespace pixavant::fuzz {

namespace {

constexpr const char* kSuffixes[] = {".img", ".tga", ".pct", ".eps", ".rle",
                                     ".jpg", ".tif", ".jxl", ".wmf", ".png"};

QString scratchDirectory() {
    static const QString dir = [] {
        QByteArray pattern =
            QFile::encodeName(QDir::tempPath() + QString("/pixavant-fuzz-%1-XXXXXX").arg(getpid()));
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return QFile::decodeName(pattern);
    }();
    return dir;
}

}  // namespace

void initialize() {
    static int argc = 1;
    static char name[] = "pixavant-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    imaging::magick::ensureInitialized();
    // Remove the scratch directory at exit; a crash leaves it for the investigation. The name is
    // made first so that it outlives the exit handler.
    scratchDirectory();
    std::atexit([] {
        const QString dir = scratchDirectory();
        for (const char* suffix : kSuffixes)
            QFile::remove(dir + "/input" + suffix);
        rmdir(QFile::encodeName(dir).constData());
    });
}

QString writeInput(const uint8_t* data, size_t size) {
    const size_t pick = size == 0 ? 0 : data[size - 1] % std::size(kSuffixes);
    const QString path = scratchDirectory() + "/input" + kSuffixes[pick];
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    if (size > 0 && file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    return path;
}

}  // namespace pixavant::fuzz
