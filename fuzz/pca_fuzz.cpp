// libFuzzer target for PCA's launch list in each of its encodings, and the path tests its lines meet.

#include "traces/TraceDecoders.h"

#include <QTextCodec>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTextCodec *const ansi = QTextCodec::codecForName("windows-1252");
    for (const auto &launch :
         traces::pcaLaunches(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)), ansi)) {
        traces::isShareOrDevicePath(launch.first);
        traces::isAbsoluteProgramPath(launch.first);
        traces::programFileName(launch.first);
    }
    return 0;
}
