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

signals:
    // One account looked up, for the record of the check; `lookedUp` false when the lookup failed.
    void accountChecked(const QString &steamId, const QString &personaName, bool lookedUp, bool vac, bool community,
                        int gameBans);

protected slots:
    void scan();
    void updateFoundAmount(int a);

private:
    void lookUpAccounts();

    Ui::AccountsWidget *ui = nullptr;
};
