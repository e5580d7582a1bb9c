// The numeric input of the parameter panel: a framed container holding an
// inner edit for typing and a drop-down button that opens a temporary
// slider under the field. It tells its parent about focus and text changes
// with the edit-control notification codes, so the parent treats it like an
// edit. The rules of the text (accepted characters, reading, clamping,
// formatting, steps) are those of CNumericField.
#pragma once

#include <QFrame>
#include <QTimer>
#include <functional>
#include <memory>

#include "editor/model/NumericField.h"

class QLineEdit;
class QToolButton;
class CEditNumSlider;

enum : int {
  EN_SETFOCUS = 0x100,
  EN_KILLFOCUS = 0x200,
  EN_CHANGE = 0x300,
  EN_UPDATE = 0x400,
};

enum : int {
  kEditNumInnerEditId = 1029,
  kEditNumButtonId = 1031,
  kEditNumSettleTimerId = 25,
};

class CEditNum : public QFrame {
 public:
  // The parent's WM_COMMAND: the control id and the notification code.
  using Notify = std::function<void(int id, int code)>;

  explicit CEditNum(QWidget* parent = nullptr);
  ~CEditNum() override;

  // Takes the place of `replaced` (a child of the parent: same geometry and
  // tab position; the replaced widget is deleted). Whole-number fields
  // ("%1.0f", format kind 3) are the only kind this program uses; other
  // kinds are refused. A slider length of -1 means 100 pixels.
  bool Create(int id, QWidget* replaced, double minimum, double maximum, double value,
              int formatKind, int sliderScale, int sliderLength, int settleTime, bool hasSlider,
              bool force);
  void SetNotify(Notify notify) { m_notify = std::move(notify); }

  void SetValue(double value, bool force, bool notify);
  // The text parsed and clamped; also stored as the value.
  double GetValue();
  int GetInt();
  void SetRange(double minimum, double maximum);
  double Clamp(double x) const { return m_field.Clamp(x); }
  double Minimum() const { return m_field.Minimum(); }
  double Maximum() const { return m_field.Maximum(); }
  int ControlId() const { return m_id; }
  int SliderLength() const { return m_sliderLength; }

  QString Text() const;
  void SetText(const QString& text);
  QLineEdit* InnerEdit() const { return m_edit; }
  QToolButton* DropDownButton() const { return m_button; }
  bool IsSliderOpen() const { return m_slider != nullptr; }
  // For the slider and tests: opens it as a press on the button does.
  void OpenSlider(const QPoint& globalPointer);
  CEditNumSlider* Slider() const { return m_slider; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  friend class CEditNumSlider;
  void LayoutChildren();
  void OnTextChanged();
  void OnSettleTimer();
  void StepBy(int steps);
  bool BelongsHere(const QWidget* widget) const;
  void Send(int code) const;
  void SliderClosed();

  CNumericField m_field{0, 0, 0};
  QLineEdit* m_edit = nullptr;
  QToolButton* m_button = nullptr;
  CEditNumSlider* m_slider = nullptr;
  QTimer m_settleTimer;
  Notify m_notify;
  int m_id = 0;
  int m_sliderLength = 100;
  int m_sliderScale = 0;
  int m_settleTime = 0;
  bool m_hasSlider = false;
  // The first change after creation is the initial text: not the user's.
  bool m_suppressChange = true;
  bool m_notifyChange = true;
};

// The slider popup: a value track under the field, dragged with the left
// button; Ctrl gives whole numbers.
class CEditNumSlider : public QWidget {
 public:
  CEditNumSlider(CEditNum& field, const QRect& geometry);
  // The value a pointer at popup x gives (before clamping and Ctrl).
  double ValueAt(int x) const;
  int ThumbX(double value) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Track(const QMouseEvent& event);
  CEditNum& m_field;
  bool m_closing = false;
};
