// Any text as a field (KIND@ADDR[,FROM-TO][,be]) and as a pair's address:
// taken within 32-bit addresses, or refused with what is wrong.

#include "Address.h"
#include "FuzzSupport.h"
#include "fields/FieldKind.h"
#include "fields/FieldSpec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzProcess();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    MergeField field;
    QString problem;
    if (parseField(text, &field, &problem)) {
        if (!field.kind || field.size != field.kind->size || field.address < 0 || field.end() > addressSpaceEnd
            || (!field.wholeImage && !(field.from >= 0 && field.from < field.to && field.to <= addressSpaceEnd)))
            fault("a field taken out of its bounds");
    } else if (problem.isEmpty()) {
        fault("a field refused without saying why");
    }
    MergeAddress address;
    if (Address::fromPairText(text, &address) && address.kind == MergeAddress::At
        && (address.value < 0 || address.value >= addressSpaceEnd))
        fault("a pair's address taken out of 32 bits");
    bool ok = false;
    const qint32 window = Address::fromWindowText(text, &ok);
    if (!ok && window != 0)
        fault("a window address that does not convert is not 0");
    return 0;
}
