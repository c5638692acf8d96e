#pragma once

#include "ui_widget.h"

// The record of the window's ten children, in creation order.
class WidgetForm : public Ui::Widget
{
};
