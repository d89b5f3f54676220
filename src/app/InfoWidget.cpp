#include "app/InfoWidget.h"

#include "app/Version.h"
#include "content/ContentLoader.h"
#include "ui_InfoWidget.h"

InfoWidget::InfoWidget(QWidget *parent) : QWidget(parent), ui(new Ui::InfoWidget)
{
    ui->setupUi(this);
    QString motd = ContentLoader::instance()->motd();
    motd.replace(QStringLiteral("${version}"), QString::fromLatin1(kProgramVersion));
    ui->textBrowser->setHtml(motd);
}

InfoWidget::~InfoWidget()
{
    delete ui;
}
