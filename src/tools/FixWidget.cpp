#include "tools/FixWidget.h"

#include "content/ContentLoader.h"
#include "platform/FileSystem.h"
#include "ui_FixWidget.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

namespace {
const char *const folderNames[] = {"models", "sound", "materials", "particles"};
const QLatin1String backupSuffix("_bak");
} // namespace

FixWidget::FixWidget(QWidget *parent) : QWidget(parent), ui(new Ui::FixWidget)
{
    ui->setupUi(this);
    connect(ui->fixButton, &QPushButton::clicked, this, &FixWidget::fix);
    connect(ui->revertButton, &QPushButton::clicked, this, &FixWidget::revert);
    connect(ui->deleteButton, &QPushButton::clicked, this, &FixWidget::del);
}

FixWidget::~FixWidget()
{
    delete ui;
}

bool FixWidget::findWorkingFolder(QDir &folder)
{
    const QString gameDir = ContentLoader::instance()->gameDir();
    if (gameDir.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Папка игры не найдена, опция недоступна!"), QMessageBox::Ok,
                              QMessageBox::NoButton);
        return false;
    }
    folder.setPath(gameDir + QStringLiteral("/csgo"));
    return true;
}

// Older backups shift one level deeper first, so none is overwritten: with models, models_bak and
// models_bak_bak present, models_bak_bak goes first. The chain is bounded by the length of a file name.
bool FixWidget::moveAside(QDir &folder, const QString &source, const QString &target)
{
    if (folder.exists(target))
        moveAside(folder, target, target + backupSuffix);
    return folder.rename(source, target);
}

void FixWidget::setBackupButtonsEnabled(bool enabled)
{
    ui->revertButton->setEnabled(enabled);
    ui->deleteButton->setEnabled(enabled);
}

// Failed renames and deletions are passed over: each folder is independent of the others.
void FixWidget::fix()
{
    QDir folder;
    if (!findWorkingFolder(folder))
        return;
    QStringList moved;
    for (const char *name : folderNames) {
        if (moveAside(folder, QLatin1String(name), QLatin1String(name) + backupSuffix))
            moved.append(folder.filePath(QLatin1String(name)));
    }
    setBackupButtonsEnabled(true);
    emit repaired(QStringLiteral("fix"), moved);
}

void FixWidget::revert()
{
    QDir folder;
    if (!findWorkingFolder(folder))
        return;
    QStringList moved;
    for (const char *name : folderNames) {
        if (folder.rename(QLatin1String(name) + backupSuffix, QLatin1String(name)))
            moved.append(folder.filePath(QLatin1String(name) + backupSuffix));
    }
    setBackupButtonsEnabled(false);
    emit repaired(QStringLiteral("revert"), moved);
}

void FixWidget::del()
{
    QDir folder;
    if (!findWorkingFolder(folder))
        return;
    QStringList deleted;
    for (const char *name : folderNames) {
        const QString backup = folder.filePath(QLatin1String(name) + backupSuffix);
        const bool present = QFileInfo::exists(backup) || QFileInfo(backup).isSymLink();
        if (platform::removeTree(backup) && present)
            deleted.append(backup);
    }
    setBackupButtonsEnabled(false);
    emit repaired(QStringLiteral("delete"), deleted);
}
