#pragma once

#include <QString>

namespace pixavant {

// The main window's lists as a run sees them: it reads the work list and adds its outputs to the
// source list when they are written to the source directory.
class RunLists {
  public:
    virtual ~RunLists() = default;
    virtual int workCount() const = 0;
    virtual QString workEntry(int index) const = 0;
    virtual int sourceCount() const = 0;
    virtual QString sourceEntry(int index) const = 0;
    virtual void addSourceEntry(const QString& entry) = 0;
    virtual void setSourceCountLabel(const QString& text) = 0;
};

}  // namespace pixavant
