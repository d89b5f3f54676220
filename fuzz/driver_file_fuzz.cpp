// libFuzzer target for a driver file's PE layout, its Authenticode digest and the PKCS#7 signature of
// its certificate table, read both from the image and straight from the input.

#include "drivers/EmbeddedSignature.h"
#include "drivers/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const PeLayout layout = readPeLayout(image);
    authenticodeDigest(image, layout);
    authenticodeDigest(image, layout, QCryptographicHash::Sha1);
    readEmbeddedSignature(certificateTable(image, layout));
    readEmbeddedSignature(image);
    return 0;
}
