#include "imaging/ErrorDetail.h"

namespace pixavant::imaging {

namespace {
thread_local QString lastDetail;
}  // namespace

void noteErrorDetail(const QString& text) {
    lastDetail = text.trimmed();
}

void clearErrorDetail() {
    lastDetail.clear();
}

QString errorDetail() {
    return lastDetail;
}

}  // namespace pixavant::imaging
