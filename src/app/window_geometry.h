// Window geometry shared by the two windows: twips to pixels and the
// centring of a window on the screen.
#pragma once

#include <QPoint>
#include <QRect>

namespace ms {

// 1440 twips to the inch, converted at the screen's dots per inch.
int twipsToPixels(int twips, double dotsPerInch);
// A rectangle given in twips, in pixels.
QRect twipsRect(int left, int top, int width, int height, double dotsPerInch);

// The top-left corner that centres a window of the given size on a screen
// of the given size: (screen - window) / 2, computed in single precision.
QPoint centredPosition(int screenWidth, int screenHeight, int windowWidth, int windowHeight);

}  // namespace ms
