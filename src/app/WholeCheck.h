#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QProgressBar;
class QWidget;

// The whole check with one button: runs the pages' own checks one after another, each exactly as its
// own button runs it, and follows the running page's progress bar. A cancel stops after the running
// step's current item; the steps after it do not start.
class WholeCheck : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WholeCheck)

public:
    struct Step
    {
        QString caption;             // "следы запуска"
        QWidget *page = nullptr;     // its progress bar "progressBar" is followed
        std::function<void()> start; // the page's own check
        std::function<void()> cancel;
    };

    explicit WholeCheck(QVector<Step> steps, QObject *parent = nullptr);

    bool isRunning() const { return current >= 0; }
    QStringList captions() const;
    // Where step `index` (0-based) stands: "2 из 4: следы запуска".
    QString stepPlace(int index) const;

public slots:
    // Does nothing while a check runs.
    void start();
    void cancel();
    // The page `page` finished its check; only the running step's page moves the check on.
    void pageFinished(QWidget *page);

signals:
    void started();
    // "Шаг 2 из 4: следы запуска", and the step's own progress.
    void progressed(const QString &step, int done, int total);
    // Every step ran (`cancelledAt` -1), or the check was cancelled during step `cancelledAt` (0-based).
    void finished(int cancelledAt);

private slots:
    void startNextStep();

private:
    void follow(QProgressBar *bar);

    const QVector<Step> steps;
    int current = -1;
    bool cancelled = false;
    QPointer<QProgressBar> followed;
    QVector<QMetaObject::Connection> following;
};
