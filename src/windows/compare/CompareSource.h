#pragma once

#include <QString>

namespace pixavant {

// What the compare view needs of the main window: the file last clicked in either list.
class CompareSource {
  public:
    virtual ~CompareSource() = default;
    // Its full path; empty when no file has been clicked.
    virtual QString clickedFile() const = 0;
};

}  // namespace pixavant
