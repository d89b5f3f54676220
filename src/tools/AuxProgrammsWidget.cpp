#include "tools/AuxProgrammsWidget.h"

#include "content/ContentLoader.h"
#include "platform/Programs.h"
#include "rules/PathPlaceholders.h"
#include "ui_AuxProgrammsWidget.h"

#include <QProcess>
#include <QSysInfo>

QString usbDeviewProgram(const QString &cpuArchitecture)
{
    return cpuArchitecture.contains(QLatin1String("64")) ? QStringLiteral("USBDeview/USBDeviewx64/USBDeview.exe")
                                                         : QStringLiteral("USBDeview/USBDeviewx32/USBDeview.exe");
}

AuxProgrammsWidget::AuxProgrammsWidget(QWidget *parent) : QWidget(parent), ui(new Ui::AuxProgrammsWidget)
{
    ui->setupUi(this);
    connect(ui->everythingButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openEverything);
    connect(ui->shellbagButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openShellbag);
    connect(ui->lastActivityViewButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openLastActivity);
    connect(ui->usbDeviceViewButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openUSBDeview);
    connect(ui->processHackerButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openProcessHacker);
    connect(ui->anyDeskButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openAnyDesk);
    connect(ui->gameFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openGameFolder);
    connect(ui->appDataFolder, &QPushButton::clicked, this, &AuxProgrammsWidget::openAppData);
    connect(ui->programDataFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openProgramData);
    connect(ui->systemDiskFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openSystemDrive);
    connect(ui->publicFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openPublic);
    connect(ui->recentFilesButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openRecent);
    connect(ui->tempFilesFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openTemp);
    connect(ui->prefetchFolderButton, &QPushButton::clicked, this, &AuxProgrammsWidget::openPrefetch);
}

AuxProgrammsWidget::~AuxProgrammsWidget()
{
    delete ui;
}

void AuxProgrammsWidget::openEverything()
{
    // The pattern is one argument, even when empty.
    startTool(QStringLiteral("Everything.exe"),
              {QStringLiteral("-regex"), QStringLiteral("-s"), ContentLoader::instance()->everythingPattern()});
}

void AuxProgrammsWidget::openShellbag()
{
    startTool(QStringLiteral("shellbag_analyzer_cleaner.exe"));
}

void AuxProgrammsWidget::openLastActivity()
{
    startTool(QStringLiteral("LastActivityView.exe"));
}

void AuxProgrammsWidget::openUSBDeview()
{
    startTool(usbDeviewProgram(QSysInfo::currentCpuArchitecture()));
}

void AuxProgrammsWidget::openProcessHacker()
{
    startTool(QStringLiteral("ProcessHacker/ProcessHacker.exe"));
}

void AuxProgrammsWidget::openAnyDesk()
{
    startTool(QStringLiteral("AnyDesk.exe"));
}

void AuxProgrammsWidget::openGameFolder()
{
    openInExplorer(QStringLiteral("%gamedir%"));
}

void AuxProgrammsWidget::openAppData()
{
    openInExplorer(QStringLiteral("%appdata%"));
}

void AuxProgrammsWidget::openProgramData()
{
    openInExplorer(QStringLiteral("%programdata%"));
}

void AuxProgrammsWidget::openSystemDrive()
{
    openInExplorer(QStringLiteral("%systemdrive%"));
}

void AuxProgrammsWidget::openPublic()
{
    openInExplorer(QStringLiteral("%public%"));
}

void AuxProgrammsWidget::openRecent()
{
    openInExplorer(QStringLiteral("%appdata%/Microsoft/Windows/Recent"));
}

void AuxProgrammsWidget::openTemp()
{
    openInExplorer(QStringLiteral("%appdata%/../Local/Temp"));
}

void AuxProgrammsWidget::openPrefetch()
{
    openInExplorer(QStringLiteral("%systemdrive%/Windows/Prefetch"));
}

// Tools run on their own: they are not waited for, and a failed start shows nothing.
void AuxProgrammsWidget::startTool(const QString &relativePath, const QStringList &arguments)
{
    QProcess::startDetached(platform::toolProgram(relativePath), arguments);
    emit utilityStarted(relativePath);
}

// The trailing separator makes a drive open at its root ("C:\" rather than "C:"); whether the folder
// exists is the file manager's affair.
void AuxProgrammsWidget::openInExplorer(const QString &path)
{
    const QString folder = expandPath(path, true);
    QProcess::startDetached(platform::fileManagerProgram(), {folder});
    emit folderOpened(folder);
}
