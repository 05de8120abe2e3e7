#include "McubootImage.h"

#include "Checksums.h"

#include <QRegularExpression>
#include <QStringList>

namespace Mcuboot {

namespace {

void putLe16(QByteArray &bytes, int at, quint32 value)
{
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char((value >> 8) & 0xFF);
}

void putLe32(QByteArray &bytes, int at, quint32 value)
{
    putLe16(bytes, at, value & 0xFFFF);
    putLe16(bytes, at + 2, value >> 16);
}

quint32 le16(const QByteArray &bytes, qint64 at)
{
    return quint32(quint8(bytes[int(at)])) | quint32(quint8(bytes[int(at + 1)])) << 8;
}

quint32 le32(const QByteArray &bytes, qint64 at)
{
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}

QByteArray le32Bytes(quint32 value)
{
    QByteArray bytes(4, '\0');
    putLe32(bytes, 0, value);
    return bytes;
}

// One TLV as the areas hold it: type and length (16 bits each), then the value.
void appendTlv(QByteArray &area, quint16 type, const QByteArray &value)
{
    QByteArray head(tlvHeaderBytes, '\0');
    putLe16(head, 0, type);
    putLe16(head, 2, quint32(value.size()));
    area += head;
    area += value;
}

// An area's info header in front of its TLVs; nothing for no TLV at all.
QByteArray area(quint16 magic, const QByteArray &tlvs)
{
    if (tlvs.isEmpty())
        return QByteArray();
    QByteArray info(tlvInfoBytes, '\0');
    putLe16(info, 0, magic);
    putLe16(info, 2, quint32(tlvInfoBytes + tlvs.size()));
    return info + tlvs;
}

qint64 alignUp(qint64 value, qint64 align)
{
    return (value + align - 1) / align * align;
}

const char standardMagic[16] = {'\x77', '\xc2', '\x95', '\xf3', '\x60', '\xd2', '\xef', '\x7f',
                                '\x35', '\x52', '\x50', '\x0f', '\x2c', '\xb6', '\x79', '\x80'};
const char alignedMagicTail[14] = {'\x2d', '\xe1', '\x5d', '\x29', '\x41', '\x0b', '\x8d',
                                   '\x77', '\x67', '\x9c', '\x11', '\x0f', '\x1f', '\x8a'};

struct Named
{
    quint16 type;
    const char *name;
};

const Named tlvNames[] = {
    {TlvKeyHash, "IMAGE_TLV_KEYHASH"},
    {TlvPublicKey, "IMAGE_TLV_PUBKEY"},
    {TlvSha256, "IMAGE_TLV_SHA256"},
    {TlvSha384, "IMAGE_TLV_SHA384"},
    {TlvSha512, "IMAGE_TLV_SHA512"},
    {TlvRsa2048Pss, "IMAGE_TLV_RSA2048_PSS"},
    {TlvEcdsa224, "IMAGE_TLV_ECDSA224"},
    {TlvEcdsaSignature, "IMAGE_TLV_ECDSA_SIG"},
    {TlvRsa3072Pss, "IMAGE_TLV_RSA3072_PSS"},
    {TlvEd25519, "IMAGE_TLV_ED25519"},
    {TlvSignaturePure, "IMAGE_TLV_SIG_PURE"},
    {TlvEncRsa2048, "IMAGE_TLV_ENC_RSA2048"},
    {TlvEncKw, "IMAGE_TLV_ENC_KW"},
    {TlvEncEc256, "IMAGE_TLV_ENC_EC256"},
    {TlvEncX25519, "IMAGE_TLV_ENC_X25519"},
    {TlvDependency, "IMAGE_TLV_DEPENDENCY"},
    {TlvSecurityCounter, "IMAGE_TLV_SEC_CNT"},
    {TlvBootRecord, "IMAGE_TLV_BOOT_RECORD"},
};

const struct
{
    quint32 flag;
    const char *name;
} flagNamesTable[] = {
    {FlagPic, "IMAGE_F_PIC"},
    {FlagEncryptedAes128, "IMAGE_F_ENCRYPTED_AES128"},
    {FlagEncryptedAes256, "IMAGE_F_ENCRYPTED_AES256"},
    {FlagNonBootable, "IMAGE_F_NON_BOOTABLE"},
    {FlagRamLoad, "IMAGE_F_RAM_LOAD"},
    {FlagRomFixed, "IMAGE_F_ROM_FIXED"},
};

QString hex(quint32 value, int digits)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

bool refuseOption(const Messages::Log &log, const char *option, const QString &value, const char *reason)
{
    return log.refuse(Refusal::mcubootOption(QLatin1String(option), value, QLatin1String(reason)));
}

// Header, application and protected TLVs: what the hash covers.
bool signedPart(const QByteArray &payload, const QString &name, const Options &options, QByteArray *out,
                const Messages::Log &log)
{
    if (!checkOptions(options, log))
        return false;
    const qint64 limit = options.slotSize > 0 ? options.slotSize : largestWithoutSlot;
    if (payload.size() > limit)
        return log.refuse(Refusal::mcubootTooLarge(name, payload.size(), limit));
    QByteArray body;
    if (options.padHeader) {
        body = payload;
    } else {
        // The build left room for the header: zeros the header is written over.
        if (payload.size() < options.headerSize
            || payload.left(options.headerSize).count('\0') != options.headerSize)
            return log.refuse(Refusal::mcubootHeaderRoom(name, options.headerSize));
        body = payload.mid(options.headerSize);
    }

    QByteArray protectedTlvs;
    if (options.hasSecurityCounter) {
        const quint32 counter = options.securityCounterAuto ? options.version.securityCounter() : options.securityCounter;
        appendTlv(protectedTlvs, TlvSecurityCounter, le32Bytes(counter));
    }
    for (const CustomTlv &custom : options.customTlvs)
        appendTlv(protectedTlvs, custom.tag, custom.value);
    if (tlvInfoBytes + protectedTlvs.size() > 0xFFFF)
        return refuseOption(log, "--custom-tlv", QString(), "the protected TLVs take more than 65535 bytes");
    const QByteArray protectedArea = area(protectedTlvInfoMagic, protectedTlvs);

    quint32 flags = 0;
    quint32 loadAddress = 0;
    if (options.hasLoadAddress) {
        flags |= FlagRamLoad;
        loadAddress = options.loadAddress;
    }
    if (options.hasRomFixed) {
        flags |= FlagRomFixed;
        loadAddress = options.romFixed;
    }
    if (options.nonBootable)
        flags |= FlagNonBootable;

    QByteArray header(options.headerSize, '\0');
    putLe32(header, 0, imageMagic);
    putLe32(header, 4, loadAddress);
    putLe16(header, 8, quint32(options.headerSize));
    putLe16(header, 10, quint32(protectedArea.size()));
    putLe32(header, 12, quint32(body.size()));
    putLe32(header, 16, flags);
    header[20] = char(options.version.major);
    header[21] = char(options.version.minor);
    putLe16(header, 22, options.version.revision);
    putLe32(header, 24, options.version.build);
    *out = header + body + protectedArea;
    return true;
}

HashKind hashFor(const Options &options, const Key *key)
{
    if (key)
        return key->hashKind();
    return options.sha == HashKind::Auto ? HashKind::Sha256 : options.sha;
}

bool hashKindAgrees(const Options &options, const Key *key, const Messages::Log &log)
{
    if (!key || options.sha == HashKind::Auto || options.sha == key->hashKind())
        return true;
    return refuseOption(log, "--sha", options.sha == HashKind::Sha384 ? QStringLiteral("384") : QStringLiteral("256"),
                        "the key takes the other hash");
}

// The image from what is signed: the TLV area (hash, the key or its hash,
// the signature), then, with --pad, the slot filled and its trailer.
bool finish(const QByteArray &signedBytes, const QString &name, const Options &options, HashKind kind,
            const QByteArray &digest, const Key *key, const QByteArray &signature, QByteArray *image,
            const Messages::Log &log)
{
    QByteArray tlvs;
    appendTlv(tlvs, kind == HashKind::Sha384 ? TlvSha384 : TlvSha256, digest);
    if (key) {
        const QByteArray publicKey = key->publicBytes();
        if (options.publicKeyFormat == KeyFormat::Full)
            appendTlv(tlvs, TlvPublicKey, publicKey);
        else
            appendTlv(tlvs, TlvKeyHash, hash(kind, publicKey));
        appendTlv(tlvs, key->signatureTlv(), signature);
    }
    QByteArray made = signedBytes + area(tlvInfoMagic, tlvs);
    if (options.slotSize > 0) {
        const qint64 needed = made.size() + trailerSize(options);
        if (needed > options.slotSize)
            return log.refuse(Refusal::mcubootSlotTooSmall(name, needed, options.slotSize));
    }
    if (options.pads()) {
        const int end = int(options.slotSize);
        const int maxAlign = options.effectiveMaxAlign();
        made.append(QByteArray(end - made.size(), char(options.erasedValue)));
        const QByteArray magic = trailerMagic(maxAlign);
        made.replace(end - magic.size(), magic.size(), magic);
        if (options.confirm)
            made[end - imageOkFromEnd(maxAlign)] = char(0x01);
    }
    *image = made;
    return true;
}

} // namespace

QString tlvName(quint16 type)
{
    for (const Named &n : tlvNames) {
        if (n.type == type)
            return QLatin1String(n.name);
    }
    const QString number = QStringLiteral("%1").arg(type, 4, 16, QLatin1Char('0')).toUpper();
    if (type >= customTlvFirst && type <= customTlvLast)
        return QStringLiteral("CUSTOM_0x") + number;
    return QStringLiteral("UNKNOWN_0x") + number;
}

bool isKnownTlv(quint16 type)
{
    for (const Named &n : tlvNames) {
        if (n.type == type)
            return true;
    }
    return false;
}

QStringList flagNames(quint32 flags)
{
    QStringList names;
    quint32 rest = flags;
    for (const auto &f : flagNamesTable) {
        if (flags & f.flag) {
            names << QLatin1String(f.name);
            rest &= ~f.flag;
        }
    }
    for (int bit = 0; bit < 32; ++bit) {
        if (rest & (1u << bit))
            names << hex(1u << bit, 8);
    }
    return names;
}

QByteArray trailerMagic(int maxAlign)
{
    if (maxAlign == 8)
        return QByteArray(standardMagic, 16);
    QByteArray magic(2, '\0');
    putLe16(magic, 0, quint32(maxAlign));
    return magic + QByteArray(alignedMagicTail, 14);
}

int imageOkFromEnd(int maxAlign)
{
    return int(alignUp(16, maxAlign)) + maxAlign;
}

bool Version::parse(const QString &text, Version *version)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?(?:\\+(\\d+))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const quint64 limits[4] = {0xFF, 0xFF, 0xFFFF, 0xFFFFFFFFu};
    quint64 values[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const QString part = m.captured(i + 1);
        if (part.isEmpty())
            continue;
        // More digits than any field holds are out of range, however many zeros lead.
        int first = 0;
        while (first < part.size() - 1 && part.at(first) == QLatin1Char('0'))
            ++first;
        const QString digits = part.mid(first);
        values[i] = digits.size() > 10 ? limits[i] + 1 : digits.toULongLong();
        if (values[i] > limits[i])
            return false;
    }
    version->major = quint8(values[0]);
    version->minor = quint8(values[1]);
    version->revision = quint16(values[2]);
    version->build = quint32(values[3]);
    return true;
}

QString Version::text() const
{
    return QStringLiteral("%1.%2.%3+%4").arg(major).arg(minor).arg(revision).arg(build);
}

bool parseVersion(const QString &text, Version *version, const Messages::Log &log)
{
    if (Version::parse(text, version))
        return true;
    return log.refuse(Refusal::mcubootVersion(text));
}

bool customTlvValue(const QString &text, QByteArray *value)
{
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        *value = text.toUtf8();
        return true;
    }
    const QString digits = text.mid(2);
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]+$"));
    if (digits.isEmpty() || digits.size() % 2 != 0 || !hexDigits.match(digits).hasMatch())
        return false;
    *value = QByteArray::fromHex(digits.toLatin1());
    return true;
}

bool parseSecurityCounter(const QString &text, Options *options)
{
    if (text == QLatin1String("auto")) {
        options->hasSecurityCounter = true;
        options->securityCounterAuto = true;
        return true;
    }
    bool ok = false;
    const qulonglong value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toULongLong(&ok, 16)
                                                                                       : text.toULongLong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFull)
        return false;
    options->hasSecurityCounter = true;
    options->securityCounterAuto = false;
    options->securityCounter = quint32(value);
    return true;
}

bool checkOptions(const Options &o, const Messages::Log &log)
{
    if (o.headerSize < headerBytes || o.headerSize > 0xFFFF)
        return refuseOption(log, "--header-size", QString::number(o.headerSize), "the header takes 32 to 65535 bytes");
    if (o.align != 1 && o.align != 2 && o.align != 4 && o.align != 8 && o.align != 16 && o.align != 32)
        return refuseOption(log, "--align", QString::number(o.align), "it is 1, 2, 4, 8, 16 or 32");
    if (o.maxAlign != 0 && o.maxAlign != 8 && o.maxAlign != 16 && o.maxAlign != 32)
        return refuseOption(log, "--max-align", QString::number(o.maxAlign), "it is 8, 16 or 32");
    if (o.maxAlign != 0 && o.maxAlign < o.align)
        return refuseOption(log, "--max-align", QString::number(o.maxAlign), "it is below --align");
    if (o.erasedValue != 0 && o.erasedValue != 0xFF)
        return refuseOption(log, "--erased-val", QString::number(o.erasedValue), "it is 0 or 0xff");
    if (o.maxSectors < 1 || o.maxSectors > 0x10000)
        return refuseOption(log, "--max-sectors", QString::number(o.maxSectors), "it is 1 to 65536");
    if (o.slotSize < 0 || o.slotSize > largestWithoutSlot)
        return refuseOption(log, "--slot-size", QString::number(o.slotSize), "a slot is at most 256 MiB");
    if (o.confirm && o.test)
        return refuseOption(log, "--test", QString(), "it does not go with --confirm");
    if (o.pads() && o.slotSize <= 0)
        return refuseOption(log, o.confirm ? "--confirm" : o.test ? "--test" : "--pad", QString(),
                            "padding needs --slot-size");
    if (o.hasLoadAddress && o.hasRomFixed)
        return refuseOption(log, "--rom-fixed", hex(o.romFixed, 8), "it does not go with --load-addr");
    for (int i = 0; i < o.customTlvs.size(); ++i) {
        const quint16 tag = o.customTlvs.at(i).tag;
        const QString shown = hex(tag, 4);
        if (tag < customTlvFirst || tag > customTlvLast || isKnownTlv(tag))
            return refuseOption(log, "--custom-tlv", shown, "custom tags lie from 0x00A0 to 0xFFFE");
        for (int j = 0; j < i; ++j) {
            if (o.customTlvs.at(j).tag == tag)
                return refuseOption(log, "--custom-tlv", shown, "the tag is given twice");
        }
        if (o.customTlvs.at(i).value.size() > 0xFFFF - tlvInfoBytes - tlvHeaderBytes)
            return refuseOption(log, "--custom-tlv", shown, "a value takes at most 65527 bytes");
    }
    return true;
}

qint64 trailerSize(const Options &options)
{
    const qint64 maxAlign = options.effectiveMaxAlign();
    const qint64 magic = alignUp(16, maxAlign);
    if (options.overwriteOnly)
        return 2 * maxAlign + magic;
    return qint64(options.maxSectors) * 3 * options.align + 4 * maxAlign + magic;
}

QByteArray hash(HashKind kind, const QByteArray &bytes)
{
    if (kind == HashKind::Sha384)
        return Key::sha384(bytes);
    Sha256 sha;
    sha.add(bytes.constData(), bytes.size());
    return sha.result();
}

bool signedPayload(const QByteArray &payload, const QString &name, const Options &options, QByteArray *signedBytes,
                   const Messages::Log &log)
{
    return signedPart(payload, name, options, signedBytes, log);
}

bool makeImage(const QByteArray &payload, const QString &name, const Options &options, const Key *key,
               QByteArray *image, const Messages::Log &log)
{
    if (key && !key->isPrivate())
        return refuseOption(log, "--key", key->file(), "it holds no private key to sign with");
    if (!hashKindAgrees(options, key, log))
        return false;
    QByteArray signedBytes;
    if (!signedPart(payload, name, options, &signedBytes, log))
        return false;
    const HashKind kind = hashFor(options, key);
    const QByteArray digest = hash(kind, signedBytes);
    if (digest.isEmpty())
        return log.refuse(Refusal::mcubootNoOpenSsl(true));
    QByteArray signature;
    if (key) {
        signature = key->sign(digest);
        if (signature.isEmpty())
            return log.refuse(Refusal::mcubootKeyUnreadable(key->file(), QStringLiteral("it cannot sign")));
    }
    return finish(signedBytes, name, options, kind, digest, key, signature, image, log);
}

bool vectorToSign(const QByteArray &payload, const QString &name, const Options &options, VectorKind kind,
                  const Key *publicKey, QByteArray *vector, const Messages::Log &log)
{
    if (!hashKindAgrees(options, publicKey, log))
        return false;
    QByteArray signedBytes;
    if (!signedPart(payload, name, options, &signedBytes, log))
        return false;
    if (kind == VectorKind::Payload) {
        *vector = signedBytes;
        return true;
    }
    const QByteArray digest = hash(hashFor(options, publicKey), signedBytes);
    if (digest.isEmpty())
        return log.refuse(Refusal::mcubootNoOpenSsl(true));
    *vector = digest;
    return true;
}

bool makeImageWithSignature(const QByteArray &payload, const QString &name, const Options &options,
                            const Key &publicKey, const QByteArray &signatureText, const QString &signatureName,
                            QByteArray *image, const Messages::Log &log)
{
    if (!Key::available())
        return log.refuse(Refusal::mcubootNoOpenSsl(false));
    if (!hashKindAgrees(options, &publicKey, log))
        return false;
    QByteArray text = signatureText;
    text.replace(' ', QByteArray()).replace('\n', QByteArray()).replace('\r', QByteArray()).replace('\t', QByteArray());
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return log.refuse(Refusal::mcubootBadSignature(signatureName));
    QByteArray signedBytes;
    if (!signedPart(payload, name, options, &signedBytes, log))
        return false;
    const HashKind kind = publicKey.hashKind();
    const QByteArray digest = hash(kind, signedBytes);
    if (digest.isEmpty())
        return log.refuse(Refusal::mcubootNoOpenSsl(false));
    if (!publicKey.verify(digest, decoded.decoded))
        return log.refuse(Refusal::mcubootSignatureMismatch(signatureName, publicKey.file()));
    return finish(signedBytes, name, options, kind, digest, &publicKey, decoded.decoded, image, log);
}

const TlvEntry *ImageInfo::find(quint16 type) const
{
    for (const TlvEntry &t : tlvs) {
        if (t.type == type)
            return &t;
    }
    return nullptr;
}

QVariantMap ImageInfo::details() const
{
    QVariantMap header;
    header.insert(QStringLiteral("loadAddress"), hex(loadAddress, 8));
    header.insert(QStringLiteral("headerSize"), headerSize);
    header.insert(QStringLiteral("protectedTlvSize"), protectedTlvSize);
    header.insert(QStringLiteral("imageSize"), imageSize);
    header.insert(QStringLiteral("flags"), hex(flags, 8));
    header.insert(QStringLiteral("flagNames"), flagNames(flags));
    header.insert(QStringLiteral("version"), version.text());
    QVariantList list;
    for (const TlvEntry &t : tlvs) {
        QVariantMap entry;
        entry.insert(QStringLiteral("type"), hex(t.type, 4));
        entry.insert(QStringLiteral("name"), t.name());
        entry.insert(QStringLiteral("length"), t.value.size());
        entry.insert(QStringLiteral("protected"), t.isProtected);
        entry.insert(QStringLiteral("offset"), t.offset);
        list << entry;
    }
    QVariantMap map;
    map.insert(QStringLiteral("header"), header);
    map.insert(QStringLiteral("tlvs"), list);
    map.insert(QStringLiteral("tlvAreaSize"), tlvAreaSize);
    map.insert(QStringLiteral("end"), end);
    if (hasTrailer) {
        QVariantMap trailer;
        trailer.insert(QStringLiteral("maxAlign"), trailerMaxAlign);
        trailer.insert(QStringLiteral("imageOk"), hex(imageOk, 2));
        trailer.insert(QStringLiteral("copyDone"), hex(copyDone, 2));
        trailer.insert(QStringLiteral("swapInfo"), hex(swapInfo, 2));
        map.insert(QStringLiteral("trailer"), trailer);
    }
    return map;
}

namespace {

// One area's TLVs, from its info header at `at`; false with the reason.
bool readArea(const QByteArray &bytes, qint64 at, quint16 magic, bool isProtected, qint64 *size,
              QVector<TlvEntry> *tlvs, QString *problem)
{
    const char *which = isProtected ? "protected TLV area" : "TLV area";
    if (at + tlvInfoBytes > bytes.size()) {
        *problem = QStringLiteral("the %1 lies past the file's end").arg(QLatin1String(which));
        return false;
    }
    if (le16(bytes, at) != magic) {
        *problem = QStringLiteral("no %1 info at 0x%2").arg(QLatin1String(which)).arg(at, 0, 16);
        return false;
    }
    const qint64 total = le16(bytes, at + 2);
    if (total < tlvInfoBytes || at + total > bytes.size()) {
        *problem = QStringLiteral("the %1 of %2 bytes does not fit the file").arg(QLatin1String(which)).arg(total);
        return false;
    }
    for (qint64 p = at + tlvInfoBytes; p < at + total;) {
        if (p + tlvHeaderBytes > at + total) {
            *problem = QStringLiteral("a TLV at 0x%1 runs past its area").arg(p, 0, 16);
            return false;
        }
        TlvEntry t;
        t.type = quint16(le16(bytes, p));
        const qint64 length = le16(bytes, p + 2);
        t.isProtected = isProtected;
        t.offset = p + tlvHeaderBytes;
        if (t.offset + length > at + total) {
            *problem = QStringLiteral("TLV %1 at 0x%2 runs past its area").arg(tlvName(t.type)).arg(p, 0, 16);
            return false;
        }
        t.value = bytes.mid(int(t.offset), int(length));
        tlvs->append(t);
        p = t.offset + length;
    }
    *size = total;
    return true;
}

} // namespace

bool readImage(const QByteArray &bytes, ImageInfo *info, QString *problem)
{
    ImageInfo r;
    r.length = bytes.size();
    if (bytes.size() < headerBytes || le32(bytes, 0) != imageMagic) {
        *problem = QStringLiteral("it does not start with an MCUboot header");
        return false;
    }
    r.loadAddress = le32(bytes, 4);
    r.headerSize = int(le16(bytes, 8));
    r.protectedTlvSize = int(le16(bytes, 10));
    r.imageSize = le32(bytes, 12);
    r.flags = le32(bytes, 16);
    r.version.major = quint8(bytes[20]);
    r.version.minor = quint8(bytes[21]);
    r.version.revision = quint16(le16(bytes, 22));
    r.version.build = le32(bytes, 24);
    if (r.headerSize < headerBytes) {
        *problem = QStringLiteral("its header size %1 is below 32").arg(r.headerSize);
        return false;
    }
    const qint64 tlvAt = qint64(r.headerSize) + r.imageSize;
    if (tlvAt > bytes.size()) {
        *problem = QStringLiteral("its image of %1 bytes runs past the file's end").arg(r.imageSize);
        return false;
    }
    qint64 at = tlvAt;
    if (r.protectedTlvSize > 0) {
        qint64 size = 0;
        if (!readArea(bytes, at, protectedTlvInfoMagic, true, &size, &r.tlvs, problem))
            return false;
        if (size != r.protectedTlvSize) {
            *problem = QStringLiteral("its protected TLV area takes %1 bytes, not the %2 of its header")
                           .arg(size)
                           .arg(r.protectedTlvSize);
            return false;
        }
        at += size;
    }
    if (!readArea(bytes, at, tlvInfoMagic, false, &r.tlvAreaSize, &r.tlvs, problem))
        return false;
    r.end = at + r.tlvAreaSize;

    // A padded image, or a whole slot, ends in the trailer's magic.
    for (int maxAlign : {8, 16, 32}) {
        const QByteArray magic = trailerMagic(maxAlign);
        const qint64 imageOkAt = bytes.size() - imageOkFromEnd(maxAlign);
        // Copy done lies before image-ok in every trailer; swap info only
        // where swaps are made, which an overwrite-only slot may leave no room for.
        if (bytes.endsWith(magic) && imageOkAt - maxAlign >= r.end) {
            r.hasTrailer = true;
            r.trailerMaxAlign = maxAlign;
            r.imageOk = quint8(bytes[int(imageOkAt)]);
            r.copyDone = quint8(bytes[int(imageOkAt - maxAlign)]);
            if (imageOkAt - 2 * maxAlign >= r.end)
                r.swapInfo = quint8(bytes[int(imageOkAt - 2 * maxAlign)]);
            break;
        }
    }
    *info = r;
    return true;
}

bool readImage(const QByteArray &bytes, const QString &name, ImageInfo *info, const Messages::Log &log)
{
    QString problem;
    if (readImage(bytes, info, &problem))
        return true;
    return log.refuse(Refusal::cannotRead(0, name, problem));
}

bool checkImage(const QByteArray &bytes, const QString &name, const ImageInfo &info, const Key *key,
                QVector<Check> *checks, const Messages::Log &log)
{
    QVector<Check> list;
    const TlvEntry *sha256 = info.find(TlvSha256);
    const TlvEntry *sha384 = info.find(TlvSha384);
    const HashKind kind = sha384 && !sha256 ? HashKind::Sha384 : HashKind::Sha256;
    const TlvEntry *hashTlv = kind == HashKind::Sha384 ? sha384 : sha256;
    const QByteArray covered = bytes.left(int(info.signedSize()));
    QByteArray digest;
    Check hashCheck;
    hashCheck.what = QStringLiteral("hash");
    if (!hashTlv || hashTlv->isProtected) {
        hashCheck.holds = false;
        hashCheck.detail = QStringLiteral("it has no hash TLV");
    } else {
        digest = hash(kind, covered);
        if (digest.isEmpty()) {
            if (checks)
                *checks = list;
            return log.refuse(Refusal::mcubootNoOpenSsl(false));
        }
        hashCheck.holds = digest == hashTlv->value;
        if (!hashCheck.holds)
            hashCheck.detail = QStringLiteral("its %1 does not hold").arg(hashTlv->name());
    }
    list << hashCheck;

    if (key && hashCheck.holds) {
        Check keyCheck;
        keyCheck.what = QStringLiteral("key");
        const QByteArray publicKey = key->publicBytes();
        const TlvEntry *keyHash = info.find(TlvKeyHash);
        const TlvEntry *fullKey = info.find(TlvPublicKey);
        if (key->hashKind() != kind) {
            keyCheck.holds = false;
            keyCheck.detail = QStringLiteral("its hash is not the one key %1 takes").arg(key->file());
        } else if (keyHash) {
            keyCheck.holds = keyHash->value == hash(kind, publicKey);
        } else if (fullKey) {
            keyCheck.holds = fullKey->value == publicKey;
        } else {
            keyCheck.holds = false;
        }
        if (!keyCheck.holds && keyCheck.detail.isEmpty())
            keyCheck.detail = QStringLiteral("it does not name key %1").arg(key->file());
        list << keyCheck;

        Check signatureCheck;
        signatureCheck.what = QStringLiteral("signature");
        const TlvEntry *signature = info.find(key->signatureTlv());
        if (!signature || signature->isProtected) {
            signatureCheck.holds = false;
            signatureCheck.detail = QStringLiteral("it has no %1").arg(tlvName(key->signatureTlv()));
        } else {
            signatureCheck.holds = keyCheck.holds && key->verify(digest, signature->value);
            if (!signatureCheck.holds)
                signatureCheck.detail = QStringLiteral("its signature does not hold for key %1").arg(key->file());
        }
        list << signatureCheck;
    }
    if (checks)
        *checks = list;
    for (const Check &c : list) {
        if (!c.holds)
            return log.refuse(Refusal::mcubootCheckFails(name, c.detail));
    }
    return true;
}

} // namespace Mcuboot
