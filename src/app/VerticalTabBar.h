#pragma once

#include <QTabBar>

// A tab bar for the west side whose captions read horizontally: each tab's size is the top-side size
// turned a quarter, and each caption is painted turned back.
class VerticalTabBar : public QTabBar
{
public:
    using QTabBar::QTabBar;
    ~VerticalTabBar() override = default;

protected:
    void paintEvent(QPaintEvent *event) override;
    QSize tabSizeHint(int index) const override;
};
