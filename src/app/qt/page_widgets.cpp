#include "app/qt/page_widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "resources/controls.h"

namespace stampwright {
namespace {

QString TemplateText(const ControlTemplate& control) {
  return QString::fromLatin1(control.text.data(), static_cast<qsizetype>(control.text.size()));
}

QWidget* CreatePushButton(const ControlTemplate& control, QWidget* page) {
  auto* button = new QPushButton(TemplateText(control), page);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QWidget* CreateEdit(const ControlTemplate& control, QWidget* page) {
  auto* edit = new QLineEdit(TemplateText(control), page);
  edit->setFrame(control.Has(kStyleBorder));
  edit->setReadOnly(control.Has(kStyleReadOnly));
  return edit;
}

QWidget* CreateStaticText(const ControlTemplate& control, QWidget* page) {
  auto* label = new QLabel(page);
  label->setTextFormat(Qt::PlainText);
  label->setText(TemplateText(control));
  label->setMargin(0);
  label->setIndent(0);
  if (control.Has(kStyleVerticallyCentred)) {
    // A vertically centred static text is one line.
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  } else {
    // A left-aligned static text breaks at words and shows what fits from the top.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
  }
  return label;
}

QWidget* CreateGroupBox(const ControlTemplate& control, QWidget* page) {
  // A frame only: the radio buttons drawn inside are the page's children, not the box's.
  auto* box = new QGroupBox(TemplateText(control), page);
  box->setFocusPolicy(Qt::NoFocus);
  return box;
}

QWidget* CreateRadioButton(const ControlTemplate& control, QWidget* page) {
  auto* radio = new QRadioButton(TemplateText(control), page);
  radio->setAutoExclusive(false);  // exclusivity comes from the button group of its radio group
  return radio;
}

QWidget* CreateWidget(const ControlTemplate& control, QWidget* page) {
  switch (control.kind) {
    case ControlKind::kPushButton:
      return CreatePushButton(control, page);
    case ControlKind::kEdit:
      return CreateEdit(control, page);
    case ControlKind::kStaticText:
      return CreateStaticText(control, page);
    case ControlKind::kGroupBox:
      return CreateGroupBox(control, page);
    case ControlKind::kAutoRadioButton:
      return CreateRadioButton(control, page);
  }
  return new QWidget(page);
}

}  // namespace

QWidget* CreateControlWidget(const ControlTemplate& control, const DialogBaseUnits& units,
                             QWidget* page) {
  QWidget* widget = CreateWidget(control, page);
  widget->setGeometry(
      DialogUnitsToPixels(units, control.x, control.y, control.width, control.height));
  widget->setEnabled(!control.Has(kStyleDisabled));
  const bool takes_focus = control.kind == ControlKind::kPushButton ||
                           control.kind == ControlKind::kEdit ||
                           control.kind == ControlKind::kAutoRadioButton;
  if (takes_focus && control.Has(kStyleNoTabStop)) widget->setFocusPolicy(Qt::ClickFocus);
  if (control.id != kUnnamedLabelId) widget->setObjectName(QString::number(control.id));
  // Hidden explicitly, so that showing the page does not show it.
  if (!control.shown) widget->hide();
  return widget;
}

QString WidgetText(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (const auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return {};
}

void SetWidgetText(QWidget* widget, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
    box->setTitle(text);
  }
}

}  // namespace stampwright
