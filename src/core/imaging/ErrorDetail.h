#pragma once

#include <QString>

namespace pixavant::imaging {

// Why the last imaging operation of this thread failed, in the words of the library that failed
// it ("Bad code word at line 12 of strip 0"), when one said more than a status code can. The file
// layer and the imaging control clear it when an operation starts; a reader or writer notes it
// where it fails.
void noteErrorDetail(const QString& text);
void clearErrorDetail();
QString errorDetail();

}  // namespace pixavant::imaging
