// Screen units and fonts of the window and the splash. Positions and sizes
// are written in twips, fonts by the names the layout was drawn with.
#pragma once

#include <QFont>
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

// The layout's font `family` ("Arial" or "MS Sans Serif") as the stand-in
// Debian ships with nearly its metrics, so every caption still fits its
// control; the family itself, then any sans-serif, where that is missing.
QFont LayoutFont(const QString& family, int points, bool bold);

} // namespace veltaro
