#include "accounts/AccountsWidget.h"

AccountsWidget::AccountsWidget(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("AccountsWidget"));
}
