#include "app/window_geometry.h"

#include <cmath>

namespace ms {

int twipsToPixels(int twips, double dotsPerInch) {
  return static_cast<int>(std::lround(twips * dotsPerInch / 1440.0));
}

QRect twipsRect(int left, int top, int width, int height, double dotsPerInch) {
  return QRect(twipsToPixels(left, dotsPerInch), twipsToPixels(top, dotsPerInch),
               twipsToPixels(width, dotsPerInch), twipsToPixels(height, dotsPerInch));
}

QPoint centredPosition(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
  float left = (static_cast<float>(screenWidth) - static_cast<float>(windowWidth)) / 2.0f;
  float top = (static_cast<float>(screenHeight) - static_cast<float>(windowHeight)) / 2.0f;
  return QPoint(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));
}

}  // namespace ms
