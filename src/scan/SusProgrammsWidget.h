#pragma once

#include <QWidget>

// The prohibited-programs page (its scan is not built yet).
class SusProgrammsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(SusProgrammsWidget)

public:
    explicit SusProgrammsWidget(QWidget *parent = nullptr);
    ~SusProgrammsWidget() override = default;
};
