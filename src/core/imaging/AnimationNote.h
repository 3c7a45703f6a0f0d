#pragma once

#include <string>

namespace pixavant::imaging {

// What a reader adds to the notes of an animation of which it converts the first frame only
// (animated GIF and WebP): the command line prints it on its standard error.
inline std::string animationNote(int frames) {
    return "animation of " + std::to_string(frames) + " frames: the first converted";
}

}  // namespace pixavant::imaging
