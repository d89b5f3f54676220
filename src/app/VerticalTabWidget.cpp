#include "app/VerticalTabWidget.h"

#include "app/VerticalTabBar.h"

VerticalTabWidget::VerticalTabWidget(QWidget *parent) : QTabWidget(parent)
{
    // setTabBar is protected in QTabWidget, hence this class; the widget takes ownership of the bar.
    setTabBar(new VerticalTabBar);
    setTabPosition(QTabWidget::West);
}
