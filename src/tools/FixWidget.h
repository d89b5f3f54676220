#pragma once

#include <QWidget>

class QDir;

namespace Ui {
class FixWidget;
}

// The error-fixing page: moves the game's content folders (models, sound, materials, particles) aside
// so that the game fetches fresh copies, puts them back, or deletes the set-aside copies.
class FixWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(FixWidget)

public:
    explicit FixWidget(QWidget *parent = nullptr);
    ~FixWidget() override;

signals:
    // `action` is "fix", "revert" or "delete"; `folders` the folders it moved or deleted.
    void repaired(const QString &action, const QStringList &folders);

public slots:
    void fix();
    void revert();
    void del();

private:
    // The game's "csgo" folder; false, after telling the user, when no game folder is known.
    bool findWorkingFolder(QDir &folder);
    static bool moveAside(QDir &folder, const QString &source, const QString &target);
    void setBackupButtonsEnabled(bool enabled);

    Ui::FixWidget *ui = nullptr;
};
