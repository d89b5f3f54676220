#include "app/LoadGate.h"
#include "app/MainWindow.h"
#include "app/PreloaderWidget.h"
#include "content/ServerTrust.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    pinContentServerTrust();

    // An unreadable style sheet is no reason to stop: the program then runs unstyled.
    QFile styleFile(QStringLiteral(":/dark/stylesheet.qss"));
    styleFile.open(QIODevice::ReadOnly | QIODevice::Text);
    QTextStream styleStream(&styleFile);
    app.setStyleSheet(styleStream.readAll());

    PreloaderWidget preloader;
    if (!loadResources(&preloader))
        return -1;

    MainWindow window;
    window.show();
    return app.exec();
}
