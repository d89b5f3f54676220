#pragma once

#include <QTabWidget>

// A tab widget with its tabs in a column on the left and horizontal captions.
class VerticalTabWidget : public QTabWidget
{
public:
    explicit VerticalTabWidget(QWidget *parent = nullptr);
    ~VerticalTabWidget() override = default;
};
