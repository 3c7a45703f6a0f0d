#pragma once

#include <QString>

class QListWidget;
class QWidget;

namespace pixavant {

// What the viewer reads of the window it opens over: the list that holds the selection.
class ViewerSource {
  public:
    virtual ~ViewerSource() = default;

    // The window the viewer opens over (its parent).
    virtual QWidget* hostWindow() = 0;
    // The list that holds the selection, found afresh (SelectedList after FindSelectedList);
    // nullptr when neither list does.
    virtual const QListWidget* selectedList() = 0;
    // The file that item `index` of one of the window's lists names (in the folder it was listed
    // from); empty when there is no such item.
    virtual QString itemPath(const QListWidget* list, int index) const = 0;
};

}  // namespace pixavant
