#pragma once

#include <cstdint>

namespace pixavant::batch {

// The state of one batch run, from the moment its window loads until it closes.
struct RunState {
    int FileCount = 0;         // work-list entries when the run was loaded
    int FileIndex = 0;         // 0-based index of the entry being converted
    int64_t TotalBytes = 0;    // sizes of all work-list files, taken at load
    int64_t DoneBytes = 0;     // sizes of the files finished in this run
    int64_t CurrentBytes = 0;  // size of the file being converted
    bool Saving = false;       // false while examining, loading and resizing; true from then on
    int PageCount = 1;         // pages of the file being converted
    int PageIndex = 0;         // 0-based index of the page being converted; Saving is the page's
    bool Finished = false;     // the run has ended, normally or after a failure
};

}  // namespace pixavant::batch
