#include "tools/AuxProgrammsWidget.h"

AuxProgrammsWidget::AuxProgrammsWidget(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("AuxProgrammsWidget"));
}
