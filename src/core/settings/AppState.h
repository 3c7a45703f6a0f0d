#pragma once

#include <QString>
#include <cstdint>

namespace pixavant {

// The main window's module-level state, shared by the windows that the main window opens.
struct AppState {
    QString SourceDir;                   // the source directory, always ending in "/"
    bool ListClickUpdatesEnabled = true; // list clicks may refresh the information panel and preview
    bool CrossDeselectEnabled = true;    // a list click deselects every item of the other list
    bool ImageInfoEnabled = true;        // "&Info" is checked
    bool PreviewEnabled = true;          // "&Preview" is checked
    bool AllSelected = false;            // set by FindSelectedList
    int16_t SelectedList = 0;            // set by FindSelectedList: 0 none, 1 source list, 2 work list
    QString CurrentImagePath;            // the file last clicked in either list
};

AppState& appState();

}  // namespace pixavant
