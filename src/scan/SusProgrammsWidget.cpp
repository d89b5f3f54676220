#include "scan/SusProgrammsWidget.h"

SusProgrammsWidget::SusProgrammsWidget(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("SusProgrammsWidget"));
}
