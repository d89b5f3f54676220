#include "ModalCloser.h"

#include <QApplication>
#include <QMessageBox>

ModalCloser::ModalCloser(std::function<void()> whileShown) : onShown(std::move(whileShown))
{
    connect(&timer, &QTimer::timeout, this, &ModalCloser::poll);
    timer.start(20);
}

void ModalCloser::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    seen.append({box->windowTitle(), box->text(), static_cast<int>(box->icon()), static_cast<int>(box->textFormat())});
    if (onShown)
        onShown();
    box->done(QMessageBox::Ok);
}
