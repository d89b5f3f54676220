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
    // The account list could not be read, and why; the accounts were not looked up.
    void accountsNotRead(const QString &reason);
    // Every lookup ended, whatever its outcome.
    void accountsChecked();

public slots:
    // The page's own button: what cannot be read is shown in a box as well.
    void scan();
    // The same for the whole check: what cannot be read is recorded, no box waits for the examiner.
    void checkAccounts(bool showErrors = false);
    // The lookups stop after the account under way.
    void cancel() { stopping = true; }

protected slots:
    void updateFoundAmount(int a);

private:
    void lookUpAccounts(bool showErrors);

    bool stopping = false;

    Ui::AccountsWidget *ui = nullptr;
};
