#include "TestEnvironment.h"

// The registry stand-in reads the export text from the file named by VIGILOR_REGISTRY_FILE.
bool useRegistry(ScopedEnvironment &environment, const QString &file, const QByteArray &exportText)
{
    if (!writeFile(file, exportText))
        return false;
    environment.set("VIGILOR_REGISTRY_FILE", file);
    return true;
}
