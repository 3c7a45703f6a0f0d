#pragma once

#include <QString>

namespace pixavant {

// The main window's lists as a run sees them: it reads the work list and adds its outputs to the
// source list when they are written to the source directory. The window's line of run totals
// tells what the last run achieved.
class RunLists {
  public:
    virtual ~RunLists() = default;
    virtual int workCount() const = 0;
    virtual QString workEntry(int index) const = 0;
    // The folder (ending in "/") of the file a work-list entry names; empty: the source directory.
    virtual QString workFolder(int index) const {
        (void)index;
        return {};
    }
    virtual int sourceCount() const = 0;
    virtual QString sourceEntry(int index) const = 0;
    virtual void addSourceEntry(const QString& entry) = 0;
    virtual void setSourceCountLabel(const QString& text) = 0;
    // The line of run totals: empty while a run goes on, then what it achieved.
    virtual void setRunTotals(const QString& text) { (void)text; }
};

}  // namespace pixavant
