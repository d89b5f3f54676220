#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

// One event of Windows' event logs, as its XML rendering holds it.
struct LoggedEvent
{
    int id = 0;
    QString channel;
    QDateTime time; // UTC
    // The named values of its EventData, and the leaf elements of its UserData, by name.
    QHash<QString, QString> data;
    QString binary; // EventData's Binary, as hex
};

// The events of `xml` (<Events><Event>…</Event>…</Events>, as the event log API renders them and
// `wevtutil qe … /f:xml /e:Events` writes them), each parsed on its own. An event that cannot be read
// is skipped: `error` counts them in the examiner's words, `detail` (when given) holds the XML
// reader's words of the first. No events at all is no error.
QVector<LoggedEvent> parseEvents(const QString &xml, QString &error, QString *detail = nullptr);

// The text of a hex string of UTF-16LE (7036's Binary: "<service>/<state>"); empty when it is none.
QString utf16FromHex(const QString &hex);

// A service's image path as the file it names: the quotes and arguments taken off, "\SystemRoot\",
// "\Windows\" and a leading "System32\" put under `windowsFolder`, "\??\" dropped.
QString serviceImageFile(const QString &imagePath, const QString &windowsFolder);

// Whether a service installation (event 7045) installed a driver: its type says so in English or
// Russian, or its image is a ".sys" file.
bool installsDriver(const QString &serviceType, const QString &imageFile);
