// The fuzzing entry of the JSON reader and writer: any bytes are parsed (never a crash, a hang or
// a leak); whatever is accepted must be written and read back to the same value.
#include "net/BVJSON.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    BVJSON json;
    BVError error;
    const QVariant value = json.fragmentWithData(text, qsizetype(size), &error);
    if (value.isValid() == !error.isNull())
        abort(); // exactly one of value and error
    // The same bytes through the object reader with a shallow limit exercise the depth errors.
    json.setMaxDepth(8);
    json.objectWithData(text, qsizetype(size), &error);
    if (!value.isValid())
        return 0;

    json.setMaxDepth(0);
    for (bool readable : {false, true}) {
        json.setHumanReadable(readable);
        const QString written = json.stringWithFragment(value, &error);
        if (written.isNull())
            abort();
        const QVariant back = json.fragmentWithString(written, &error);
        if (!back.isValid() || back != value)
            abort();
    }
    return 0;
}
