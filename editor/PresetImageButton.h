// The image buttons of the preset row: a PNG picture of the module blended
// onto the button's face, multiplied in while pressed, laid over when
// enabled and reduced to its lightness, faintly, when disabled.
#pragma once

#include <QPushButton>

#include "imagecore/CoreImage.h"

class CPresetImageButton : public QPushButton {
 public:
  // `pictureId`: the PNG resource drawn on the face.
  CPresetImageButton(int pictureId, QWidget* parent);

  // The blend mode and opacity of the picture in the button's state now.
  int BlendMode() const;
  int BlendOpacity() const;
  bool HasPicture() const { return m_hasPicture; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CCoreImage m_picture;
  bool m_hasPicture = false;
};
