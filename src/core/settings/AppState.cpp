#include "settings/AppState.h"

namespace pixavant {

AppState& appState() {
    static AppState state;
    return state;
}

}  // namespace pixavant
