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
// open folders of the examined machine in the file manager. Nothing is reported back.
class AuxProgrammsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(AuxProgrammsWidget)

public:
    explicit AuxProgrammsWidget(QWidget *parent = nullptr);
    ~AuxProgrammsWidget() override;

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
    void openInExplorer(const QString &path);

    Ui::AuxProgrammsWidget *ui = nullptr;
};
