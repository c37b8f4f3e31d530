// The busy animation's pictures: frames 1 to 6 and the idle picture 7, in a
// large set (text labels shown) and a small one.
#pragma once

#include <QPixmap>

namespace StarImages {
inline constexpr int kIdleFrame = 7;
QPixmap Frame(int index, bool large);
}  // namespace StarImages
