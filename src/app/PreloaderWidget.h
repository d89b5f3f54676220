#pragma once

#include <QWidget>

namespace Ui {
class PreloaderWidget;
}

// The small window shown while the content is loaded; its bar counts the server replies (0 to 7).
class PreloaderWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(PreloaderWidget)

public:
    explicit PreloaderWidget(QWidget *parent = nullptr);
    ~PreloaderWidget() override;

private:
    Ui::PreloaderWidget *ui = nullptr;
};
