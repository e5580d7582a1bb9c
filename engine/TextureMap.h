// The texture map: how busy the picture is around each pixel, from its
// local deviation, on a square-root scale that spreads the low values.
#pragma once

class CCoreImage;

// texture := trunc(255 * sqrt(m / 255)) per pixel, m the largest of the
// blue, green and red bytes of the deviation image (keFormatBGR view; else
// 101 is raised). texture becomes a grey image of the deviation's size
// unless it already is one.
void TextureFromDeviation(CCoreImage& deviation, CCoreImage& texture);

// texture := the same map straight from a BGRA image's colours, their
// deviation over the window taken as LocalDeviation takes it. False, with
// nothing written, where that needs the deviation image itself: make it with
// LocalDeviation and call TextureFromDeviation.
bool TextureFromColours(CCoreImage& image, int window, CCoreImage& texture);
