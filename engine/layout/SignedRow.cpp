#include "SignedRow.h"

#include "mcuboot/McubootImage.h"

#include <QFile>

namespace SignedRow {

bool isRequested(const Mcuboot::Request &request, const SourceSet &sources, int k)
{
    if (sources.count() == 1)
        return true;
    const MergeInput &input = sources.input(k);
    return !input.ownAddresses && input.address == request.address;
}

namespace {

// The row's bytes in address order, holes erased: what is signed.
bool payloadOf(SourceSet &sources, const MergePlacement &p, char erased, qint64 limit, QByteArray *payload,
               const Messages::Log &log)
{
    const qint64 length = p.segments.isEmpty() ? 0 : p.end - p.address;
    if (length > limit)
        return log.refuse(Refusal::mcubootTooLarge(p.fileName, length, limit));
    payload->fill(erased, int(length));
    for (const MergeSegment &segment : p.segments) {
        if (!sources.readSegment(p.input, segment, 0, payload->data() + (segment.address - p.address), segment.size))
            return log.refuse(Refusal::failToRead(p.row, p.fileName));
    }
    return true;
}

// A signature made elsewhere, as text; read whole, it is a few hundred bytes.
bool readSignature(const QString &name, QByteArray *text, const Messages::Log &log)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return log.refuse(Refusal::cannotRead(0, name, file.errorString()));
    *text = file.read(64 << 10);
    if (!file.atEnd())
        return log.refuse(Refusal::mcubootBadSignature(name));
    return true;
}

} // namespace

bool make(const Mcuboot::Request &request, SourceSet &sources, MergePlacement &p, const Messages::Log &log)
{
    Mcuboot::Options options = request.options;
    if (options.slotSize == 0)
        options.slotSize = p.slotSize;
    const qint64 limit = options.slotSize > 0 ? options.slotSize : Mcuboot::largestWithoutSlot;
    QByteArray payload;
    if (!payloadOf(sources, p, char(options.erasedValue), limit, &payload, log))
        return false;
    QByteArray image;
    bool made = false;
    if (!request.fixSignatureFile.isEmpty()) {
        Mcuboot::Key publicKey;
        QByteArray signature;
        made = publicKey.loadPublic(request.fixSignaturePublicKey, log) && readSignature(request.fixSignatureFile, &signature, log)
               && Mcuboot::makeImageWithSignature(payload, p.fileName, options, publicKey, signature,
                                                  request.fixSignatureFile, &image, log);
    } else if (!request.keyFile.isEmpty()) {
        Mcuboot::Key key;
        made = key.loadPrivate(request.keyFile, QByteArray(), log)
               && Mcuboot::makeImage(payload, p.fileName, options, &key, &image, log);
    } else {
        made = Mcuboot::makeImage(payload, p.fileName, options, nullptr, &image, log);
    }
    if (!made)
        return false;
    // The image as one run in the store, where the row put the file.
    ScratchStore &store = sources.store();
    MergeSegment run;
    run.address = p.address;
    run.dataOffset = store.end();
    run.size = quint32(image.size());
    run.inStore = true;
    run.store = 0;
    if (!store.append(image.constData(), image.size()))
        return log.refuse(Refusal::failToStore(p.row, p.fileName));
    p.segments = {run};
    p.size = image.size();
    p.end = p.address + p.size;
    Mcuboot::ImageInfo info;
    QString problem;
    if (Mcuboot::readImage(image, &info, &problem))
        p.details.insert(QStringLiteral("mcuboot"), info.details());
    return true;
}

} // namespace SignedRow
