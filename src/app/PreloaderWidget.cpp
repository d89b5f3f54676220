#include "app/PreloaderWidget.h"

#include "content/ContentLoader.h"
#include "ui_PreloaderWidget.h"

namespace {
// One step per server reply of a complete load.
constexpr int kServerReplies = 8;
} // namespace

PreloaderWidget::PreloaderWidget(QWidget *parent) : QWidget(parent), ui(new Ui::PreloaderWidget)
{
    ui->setupUi(this);
    // The form's value lies outside the new range, so the bar is reset and shows no progress yet.
    ui->progressBar->setMaximum(kServerReplies);
    connect(ContentLoader::instance(), &ContentLoader::partLoaded, ui->progressBar, &QProgressBar::setValue);
}

PreloaderWidget::~PreloaderWidget()
{
    delete ui;
}
