#pragma once

#include <QWidget>

// The error-fixing page (its actions are not built yet).
class FixWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(FixWidget)

public:
    explicit FixWidget(QWidget *parent = nullptr);
    ~FixWidget() override = default;
};
