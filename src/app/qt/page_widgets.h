#pragma once

#include <QString>

#include "app/qt/dialog_units.h"
#include "resources/page_template.h"

class QWidget;

namespace stampwright {

// One control of the page template as a widget on the page: at its rectangle, with its initial
// text, visibility, enabled state and style. Push buttons are never default buttons, so that
// Enter in an edit presses nothing by itself.
QWidget* CreateControlWidget(const ControlTemplate& control, const DialogBaseUnits& units,
                             QWidget* page);

// The text a control shows (a group box's title, a button's label).
QString WidgetText(const QWidget* widget);
void SetWidgetText(QWidget* widget, const QString& text);

}  // namespace stampwright
