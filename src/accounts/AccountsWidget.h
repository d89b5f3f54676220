#pragma once

#include <QWidget>

namespace Ui {
class AccountsWidget;
}

// The accounts page: lists the Steam accounts recorded on the machine (Steam's loginusers.vdf) and
// looks each one up for bans at the content server, one coloured line per account.
class AccountsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(AccountsWidget)

public:
    explicit AccountsWidget(QWidget *parent = nullptr);
    ~AccountsWidget() override;

protected slots:
    void scan();
    void updateFoundAmount(int a);

private:
    void lookUpAccounts();

    Ui::AccountsWidget *ui = nullptr;
};
