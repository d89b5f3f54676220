#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// Closes every modal message box that appears while it lives, recording each box's title and text
// (and running an optional check first, e.g. to look at other widgets while the box is up).
class ModalCloser : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        int icon = 0;
        int format = 0; // Qt::TextFormat
    };

    explicit ModalCloser(std::function<void()> whileShown = {});

    const QList<Box> &boxes() const { return seen; }

private:
    void poll();

    QTimer timer;
    QList<Box> seen;
    std::function<void()> onShown;
};
