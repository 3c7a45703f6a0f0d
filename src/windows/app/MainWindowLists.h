#pragma once

#include "compress/RunLists.h"

namespace pixavant {

class MainWindow;

// The main window's lists as a run sees them: its work list, its source list and the source count
// label (Label1).
class MainWindowLists final : public RunLists {
  public:
    explicit MainWindowLists(MainWindow& window) : window_(window) {}

    int workCount() const override;
    QString workEntry(int index) const override;
    int sourceCount() const override;
    QString sourceEntry(int index) const override;
    void addSourceEntry(const QString& entry) override;
    void setSourceCountLabel(const QString& text) override;

  private:
    MainWindow& window_;
};

}  // namespace pixavant
