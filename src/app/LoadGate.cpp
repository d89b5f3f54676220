#include "app/LoadGate.h"

#include "app/PlainTextBox.h"
#include "content/ContentLoader.h"

#include <QCoreApplication>
#include <QWidget>

bool loadResources(QWidget *preloader)
{
    preloader->show();
    ContentLoader *loader = ContentLoader::instance();
    const bool loaded = loader->load();
    if (!loaded) {
        showCriticalPlainText(preloader, QCoreApplication::translate("PreloaderWidget", "Ошибка"),
                              QCoreApplication::translate("PreloaderWidget", "Не удалось загрузить ресурсы: ") +
                                  loader->errorString());
    }
    preloader->close();
    return loaded;
}
