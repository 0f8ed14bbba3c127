#pragma once

#include <QRect>

// Window layouts are given in twips: 15 twips make one pixel at 96 dots per inch.
namespace Twips {

constexpr int kPerPixel = 15;

constexpr int px(int twips)
{
    return twips / kPerPixel;
}

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace Twips
