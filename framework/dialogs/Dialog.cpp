#include "framework/dialogs/Dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <algorithm>

#include "platform/MessageBox.h"

namespace {

// Texts of the templates keep their own spacing ("          View").
QString TextOf(const CDialogControl& control) {
  return QString::fromStdString(control.text);
}

// The dialog font as this desktop's style draws controls with it.
class CQtDialogFontMetrics : public IDialogFontMetrics {
 public:
  CQtDialogFontMetrics(const QFont& font, const QStyle& style)
      : m_metrics(font), m_style(style), m_font(font) {}

  int TextWidth(std::string_view text) const override {
    return m_metrics.horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  int LineHeight() const override { return m_metrics.height(); }

  CControlChrome Chrome(keControlKind kind) const override {
    const int frame = m_style.pixelMetric(QStyle::PM_DefaultFrameWidth);
    switch (kind) {
      case keControlKind::PushButton:
        return {2 * (m_style.pixelMetric(QStyle::PM_ButtonMargin) + frame), 2 * frame, 0};
      case keControlKind::CheckBox: {
        // The indicator and its spacing, and room for the focus frame
        // around the text.
        const int indicator = m_style.pixelMetric(QStyle::PM_IndicatorWidth);
        const int spacing = m_style.pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        const int tall = m_style.pixelMetric(QStyle::PM_IndicatorHeight);
        return {indicator + spacing + 4, std::max(0, tall - LineHeight()), 0};
      }
      case keControlKind::GroupBox: {
        QStyleOptionGroupBox option;
        option.rect = QRect(0, 0, 1000, 200);
        option.text = QStringLiteral("x");
        option.fontMetrics = m_metrics;
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.textAlignment = Qt::AlignLeft;
        const QRect label =
            m_style.subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel);
        // As far from the right edge as the title stands from the left one.
        const int width = label.width() - TextWidth("x") + 2 * std::max(0, label.left());
        const int height = std::max(0, label.bottom() + 1 - LineHeight());
        return {std::max(0, width), height, 0};
      }
      case keControlKind::Edit:
        // A line edit keeps a pixel above and below its text.
        return {0, 2 * frame + 2, 0};
      case keControlKind::ListBox: {
        QListWidget list;
        list.setFont(m_font);
        list.addItem(QStringLiteral("Xg"));
        return {2 * frame, 2 * frame, std::max(0, list.sizeHintForRow(0) - LineHeight())};
      }
      default:
        return {};
    }
  }

 private:
  QFontMetrics m_metrics;
  const QStyle& m_style;
  QFont m_font;
};

}  // namespace

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent), m_templateId(templateId) {}

CDialog::~CDialog() = default;

QRect CDialog::DialogToPixels(const CDialogRect& rect) const {
  const CDialogRect pixels = DialogUnitsToPixels(rect, m_baseX, m_baseY);
  return QRect(pixels.x, pixels.y, pixels.width, pixels.height);
}

QSize CDialog::TemplateSize() const {
  const QRect size = DialogToPixels(m_template.rect);
  return size.size();
}

bool CDialog::BuildControls() {
  if (m_built) return true;
  if (!LoadDialogTemplate(m_templateId, m_template)) return false;
  const QFont font = m_fontOverride ? *m_fontOverride
                                    : QFont(QString::fromStdString(m_template.fontName),
                                            m_template.fontPoints);
  setFont(font);
  const CDialogBaseUnits units = FitDialogBaseUnits(m_template, CQtDialogFontMetrics(font, *style()));
  m_baseX = units.x;
  m_baseY = units.y;
  if (!m_template.caption.empty()) setWindowTitle(QString::fromStdString(m_template.caption));
  for (const CDialogControl& control : m_template.controls) {
    QWidget* widget = MakeControl(control);
    QRect rect = DialogToPixels(control.rect);
    // A drop-down list's rectangle includes its open list; closed, it is as
    // tall as the style makes it.
    if (control.kind == keControlKind::ComboBox) {
      rect.setHeight(std::min(rect.height(), widget->sizeHint().height()));
    }
    widget->setGeometry(rect);
    if (control.Has(keCtlHidden)) widget->hide();
    if (control.Has(keCtlDisabled)) widget->setEnabled(false);
    widget->setFocusPolicy(control.Has(keCtlTabStop) ? Qt::StrongFocus : Qt::NoFocus);
    if (control.id != -1 && !m_items.count(control.id)) m_items[control.id] = widget;
  }
  resize(TemplateSize());
  m_built = true;
  return true;
}

QWidget* CDialog::MakeControl(const CDialogControl& control) {
  const QString text = TextOf(control);
  const int id = control.id;
  switch (control.kind) {
    case keControlKind::PushButton: {
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(false);
      button->setDefault(control.Has(keCtlDefault));
      connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
      return button;
    }
    case keControlKind::CheckBox: {
      auto* box = new QCheckBox(text, this);
      connect(box, &QCheckBox::clicked, this, [this, id] { OnCommand(id); });
      return box;
    }
    case keControlKind::Static: {
      auto* label = new QLabel(text, this);
      label->setWordWrap(ControlTextWraps(control));
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case keControlKind::Frame:
      return new QFrame(this);
    case keControlKind::GroupBox:
      return new QGroupBox(text, this);
    case keControlKind::Edit:
      return new QLineEdit(text, this);
    case keControlKind::ListBox: {
      auto* list = new QListWidget(this);
      list->setSortingEnabled(control.Has(keCtlSort));
      return list;
    }
    case keControlKind::ComboBox:
      return new QComboBox(this);
    case keControlKind::Progress: {
      auto* bar = new QProgressBar(this);
      bar->setRange(0, 100);
      bar->setTextVisible(false);
      return bar;
    }
  }
  return new QWidget(this);
}

int CDialog::DoModal() {
  if (!BuildControls()) return -1;
  OnInitDialog();
  return exec();
}

bool CDialog::Create(QWidget* parent) {
  setParent(parent, Qt::Widget);
  if (!BuildControls()) return false;
  OnInitDialog();
  return true;
}

void CDialog::EndDialog(int result) { done(result); }

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (!isWindow() && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCommand(int id) {
  if (id == IDOK) {
    OnOK();
  } else if (id == IDCANCEL) {
    OnCancel();
  }
}

QWidget* CDialog::GetDlgItem(int id) const {
  const auto found = m_items.find(id);
  return found == m_items.end() ? nullptr : found->second;
}

void CDialog::DestroyDlgItem(int id) {
  const auto found = m_items.find(id);
  if (found == m_items.end()) return;
  QWidget* widget = found->second;
  m_items.erase(found);
  delete widget;
}

void CDialog::SetDlgItem(int id, QWidget* widget) {
  if (widget) {
    m_items[id] = widget;
  } else {
    m_items.erase(id);
  }
}

void CDialog::SetDlgItemText(int id, const QString& text) {
  QWidget* item = GetDlgItem(id);
  if (auto* label = qobject_cast<QLabel*>(item)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(item)) {
    button->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(item)) {
    edit->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(item)) {
    group->setTitle(text);
  }
}

void CDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* item = GetDlgItem(id)) item->setEnabled(enable);
}
