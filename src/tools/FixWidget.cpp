#include "tools/FixWidget.h"

FixWidget::FixWidget(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("FixWidget"));
}
