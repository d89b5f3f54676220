#include "app/LoadGate.h"

#include "content/ContentLoader.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

bool loadResources(QWidget *preloader)
{
    preloader->show();
    ContentLoader *loader = ContentLoader::instance();
    const bool loaded = loader->load();
    if (!loaded) {
        // The error may name the player's folders: shown as text, never as markup.
        QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("PreloaderWidget", "Ошибка"),
                        QCoreApplication::translate("PreloaderWidget", "Не удалось загрузить ресурсы: ") +
                            loader->errorString(),
                        QMessageBox::Ok, preloader);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    preloader->close();
    return loaded;
}
