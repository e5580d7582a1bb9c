#include "editor/PresetImageButton.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <cstring>

#include "imagecore/CoreResult.h"
#include "imagecore/LayerBlend.h"
#include "imagecore/PngResource.h"
#include "imagecore/RowLease.h"

namespace {

constexpr int kPressedOpacity = 255;
constexpr int kHighlightedOpacity = 255;
constexpr int kEnabledOpacity = 200;
constexpr int kDisabledOpacity = 100;

}  // namespace

CPresetImageButton::CPresetImageButton(int pictureId, QWidget* parent) : QPushButton(parent) {
  try {
    m_hasPicture = LoadPngResource(pictureId, m_picture) == 0 && m_picture.HasStorage() &&
                   m_picture.ViewFormat() == keFormatBGRA;
  } catch (const CJException&) {
    m_hasPicture = false;
  }
}

int CPresetImageButton::BlendMode() const {
  if (!isEnabled()) return keBlendHslLightness;
  return isDown() ? keBlendMultiply : keBlendNormal;
}

int CPresetImageButton::BlendOpacity() const {
  if (!isEnabled()) return kDisabledOpacity;
  if (isDown()) return kPressedOpacity;
  return underMouse() || hasFocus() ? kHighlightedOpacity : kEnabledOpacity;
}

void CPresetImageButton::paintEvent(QPaintEvent*) {
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();
  option.icon = QIcon();

  // The face as the style draws it, then the picture blended onto it.
  QImage face(size(), QImage::Format_ARGB32);
  face.fill(palette().color(QPalette::Button));
  {
    QPainter painter(&face);
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
  }
  if (m_hasPicture) {
    // The picture's rows lie bottom-up; the face is taken the same way, so
    // the blend places the picture upright.
    const int height = face.height();
    CCoreImage core;
    const CoreResult made =
        core.FromPixels(keFormatBGRA, face.width(), height, face.scanLine(height - 1),
                        -static_cast<ptrdiff_t>(face.bytesPerLine()), 0, nullptr);
    if (made.IsNull()) {
      const int left = (face.width() - m_picture.Width()) / 2;
      const int bottom = (height - m_picture.Height()) / 2;
      if (BlendPicture(core, m_picture, BlendMode(), BlendOpacity(), left, bottom)) {
        for (int y = 0; y < height; ++y) {
          const CRowLease row(core, y);
          std::memcpy(face.scanLine(height - 1 - y), row.Data(),
                      static_cast<size_t>(face.width()) * 4);
        }
      }
    }
  }
  QStylePainter painter(this);
  painter.drawImage(0, 0, face);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}
