#pragma once

#include <QWidget>

// The accounts page (its ban lookup is not built yet).
class AccountsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(AccountsWidget)

public:
    explicit AccountsWidget(QWidget *parent = nullptr);
    ~AccountsWidget() override = default;
};
