#include "platform/FileSystem.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The stand-in's temporary folder: the user's choice, or a folder of the user's own, never /tmp itself.
class FileSystemTest : public QObject
{
    Q_OBJECT

private slots:
    void temporaryFolderFollowsTmpdir();
    void temporaryFolderWithoutTmpdirIsPrivate();
};

void FileSystemTest::temporaryFolderFollowsTmpdir()
{
    QTemporaryDir chosen;
    ScopedEnvironment environment;
    environment.set("TMPDIR", chosen.path() + QStringLiteral("/"));
    QCOMPARE(platform::temporaryFolder(), chosen.path());
}

void FileSystemTest::temporaryFolderWithoutTmpdirIsPrivate()
{
    ScopedEnvironment environment;
    environment.unset("TMPDIR");
    const QString folder = platform::temporaryFolder();
    QVERIFY(folder.startsWith(QLatin1String("/tmp/vigilor-")));
    struct stat status = {};
    QCOMPARE(lstat(QFile::encodeName(folder).constData(), &status), 0);
    QVERIFY(S_ISDIR(status.st_mode));
    QCOMPARE(status.st_uid, geteuid());
    QCOMPARE(status.st_mode & 0777, 0700u);
}

VIGILOR_GUILESS_TEST_MAIN(FileSystemTest)
#include "FileSystemTest.moc"
