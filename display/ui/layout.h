// Screen units of the window and the splash: positions and sizes are written
// in twips.
#pragma once

#include <QRect>

namespace veltaro {

inline constexpr double kTwipsPerPixel = 15.0;

inline int Px(int twips) {
    return qRound(twips / kTwipsPerPixel);
}
inline int Twips(int pixels) {
    return static_cast<int>(pixels * kTwipsPerPixel);
}
inline QRect Layout(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}

} // namespace veltaro
