// Whole-image moves between the alpha byte of a BGRA image and a grey
// matte, done on raw rows: the same bytes a channel view would give, without
// converting each row twice.
#pragma once

class CCoreImage;
class CPlane;

// matte := the alpha channel of image (a new grey image of its size).
void ExtractAlpha(CCoreImage& image, CCoreImage& matte);
// The alpha of image := matte; colours untouched.
void InsertAlpha(CCoreImage& matte, CCoreImage& image);
// The alpha channel of a BGRA image as a grey plane, and back.
CPlane AlphaPlane(CCoreImage& image);
void InsertAlpha(const CPlane& matte, CCoreImage& image);
// Whether every alpha is 0 or 255 already.
bool AlphaIsBinary(CCoreImage& image);
// Every non-zero alpha becomes 255.
void BinarizeAlpha(CCoreImage& image);
// Every alpha becomes 255.
void MakeOpaque(CCoreImage& image);
// The blue, green and red of image := those of source; alpha untouched.
void CopyColours(CCoreImage& source, CCoreImage& image);
// Every byte of a grey image := value.
void FillGrey(CCoreImage& image, unsigned char value);
