#pragma once

#include <QWidget>

// The utilities page (its buttons are not built yet).
class AuxProgrammsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(AuxProgrammsWidget)

public:
    explicit AuxProgrammsWidget(QWidget *parent = nullptr);
    ~AuxProgrammsWidget() override = default;
};
