#pragma once

#include <QDir>
#include <QString>

namespace pixavant::testing {

// The folder of real test files beside the project (../shared/testdata; PIXAVANT_TESTDATA
// overrides it), or an empty string when it is not there.
inline QString testdataDir(const QString& sub = {}) {
    QString root = qEnvironmentVariable("PIXAVANT_TESTDATA");
#ifdef PIXAVANT_TESTDATA_DIR
    if (root.isEmpty())
        root = QStringLiteral(PIXAVANT_TESTDATA_DIR);
#endif
    const QString dir = sub.isEmpty() ? root : root + QLatin1Char('/') + sub;
    return !root.isEmpty() && QDir(dir).exists() ? QDir(dir).absolutePath() : QString();
}

}  // namespace pixavant::testing
