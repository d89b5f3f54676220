#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class AuxProgrammsWidget;
}

// The copy of USBDeview that suits a processor of the given architecture (as
// QSysInfo::currentCpuArchitecture() names it): the 64-bit one whenever the name contains "64".
QString usbDeviewProgram(const QString &cpuArchitecture);

// The utilities page: buttons that start the forensic tools of the unpacked utilities archive and
// open folders of the examined machine in the file manager. What was started is announced for the
// record of the check; whether it started is not looked at.
class AuxProgrammsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(AuxProgrammsWidget)

public:
    explicit AuxProgrammsWidget(QWidget *parent = nullptr);
    ~AuxProgrammsWidget() override;

signals:
    void utilityStarted(const QString &program);
    void folderOpened(const QString &path);

protected slots:
    void openEverything();
    void openShellbag();
    void openLastActivity();
    void openUSBDeview();
    void openProcessHacker();
    void openAnyDesk();
    void openGameFolder();
    void openAppData();
    void openProgramData();
    void openSystemDrive();
    void openPublic();
    void openRecent();
    void openTemp();
    void openPrefetch();

private:
    void startTool(const QString &relativePath, const QStringList &arguments = {});
    void openInExplorer(const QString &path);

    Ui::AuxProgrammsWidget *ui = nullptr;
};
