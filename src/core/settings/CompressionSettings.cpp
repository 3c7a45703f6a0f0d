#include "settings/CompressionSettings.h"

namespace pixavant {

CompressionSettings CompressionSettings::defaults(const QString& sourceDir) {
    CompressionSettings settings;
    settings.OutputDir = sourceDir;
    return settings;
}

CompressionSettings& compressionSettings() {
    static CompressionSettings settings;
    return settings;
}

}  // namespace pixavant
