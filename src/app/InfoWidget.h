#pragma once

#include <QWidget>

namespace Ui {
class InfoWidget;
}

// The information page: the server's message of the day with the program's version filled in.
class InfoWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(InfoWidget)

public:
    explicit InfoWidget(QWidget *parent = nullptr);
    ~InfoWidget() override;

private:
    Ui::InfoWidget *ui = nullptr;
};
