#ifndef MCUBOOTIMAGE_H
#define MCUBOOTIMAGE_H

#include "MergeMessages.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>
#include <QtGlobal>

#include <memory>

// Images that the MCUboot boot loader boots: a 32-byte header at the start of
// a room of --header-size bytes, the application, a protected TLV area that
// the hash covers (the security counter, custom TLVs), then a TLV area with
// the hash, the key or its hash and the signature. With --pad, filled with
// the erased value up to the slot's end, where the trailer the boot loader
// reads lies. Options keep imgtool's names and meanings. Every value in the
// header and the TLVs is little-endian. Images are held whole in memory: a
// slot is a few MiB at most.
namespace Mcuboot {

constexpr quint32 imageMagic = 0x96F3B83Du;
constexpr quint16 tlvInfoMagic = 0x6907;
constexpr quint16 protectedTlvInfoMagic = 0x6908;
constexpr int headerBytes = 32;
constexpr int tlvInfoBytes = 4;
constexpr int tlvHeaderBytes = 4;
// Without a slot to bound it, an application past this is refused.
constexpr qint64 largestWithoutSlot = qint64(256) << 20;

// The header's flags.
enum Flag : quint32 {
    FlagPic = 0x1,
    FlagEncryptedAes128 = 0x4,
    FlagEncryptedAes256 = 0x8,
    FlagNonBootable = 0x10,
    FlagRamLoad = 0x20,
    FlagRomFixed = 0x100,
};

// TLV types. A type is 16 bits: the documented ones use the low byte, the
// high byte being the zero "pad" of the format's description.
enum TlvType : quint16 {
    TlvKeyHash = 0x01,
    TlvPublicKey = 0x02,
    TlvSha256 = 0x10,
    TlvSha384 = 0x11,
    TlvSha512 = 0x12,
    TlvRsa2048Pss = 0x20,
    TlvEcdsa224 = 0x21,
    TlvEcdsaSignature = 0x22,
    TlvRsa3072Pss = 0x23,
    TlvEd25519 = 0x24,
    TlvSignaturePure = 0x25,
    TlvEncRsa2048 = 0x30,
    TlvEncKw = 0x31,
    TlvEncEc256 = 0x32,
    TlvEncX25519 = 0x33,
    TlvDependency = 0x40,
    TlvSecurityCounter = 0x50,
    TlvBootRecord = 0x60,
};
// The range left to vendors for their own TLVs (--custom-tlv).
constexpr quint16 customTlvFirst = 0x00A0;
constexpr quint16 customTlvLast = 0xFFFE;

// IMAGE_TLV_SHA256 and the like for a known type, CUSTOM_0xNNNN for one in
// the vendors' range, UNKNOWN_0xNNNN otherwise.
QString tlvName(quint16 type);
bool isKnownTlv(quint16 type);
// IMAGE_F_RAM_LOAD and the like, one per flag set (unknown bits as 0x...).
QStringList flagNames(quint32 flags);

// The trailer's magic at the very end of a slot: MCUboot's own 16 bytes
// where the maximum alignment is 8, otherwise that alignment (two bytes) and
// the other magic's 14.
QByteArray trailerMagic(int maxAlign);
// Where image-ok lies, counted back from a slot's end.
int imageOkFromEnd(int maxAlign);

struct Version
{
    quint8 major = 0;
    quint8 minor = 0;
    quint16 revision = 0;
    quint32 build = 0;

    // MAJOR[.MINOR[.REVISION]][+BUILD], decimal; false for any other text or
    // a number out of its field's range.
    static bool parse(const QString &text, Version *version);
    QString text() const; // 1.2.3+4
    // --security-counter auto: the version without its build number.
    quint32 securityCounter() const { return quint32(major) << 24 | quint32(minor) << 16 | revision; }
    bool operator==(const Version &o) const
    {
        return major == o.major && minor == o.minor && revision == o.revision && build == o.build;
    }
};

// Reads a version as parse() does; refuses any other text in one line.
bool parseVersion(const QString &text, Version *version, const Messages::Log &log);

enum class KeyFormat { Hash, Full };   // --public-key-format: KEYHASH or PUBKEY
enum class HashKind { Auto, Sha256, Sha384 }; // Auto: SHA-384 for ECDSA P-384 only
enum class VectorKind { Payload, Digest }; // --vector-to-sign

struct CustomTlv
{
    quint16 tag = 0;
    QByteArray value;
};

// imgtool's spelling of a custom TLV's value: "0x" and an even count of
// hexadecimal digits are those bytes as written, anything else is its text in
// UTF-8. False for "0x" followed by no digit, an odd count or a non-digit.
bool customTlvValue(const QString &text, QByteArray *value);

struct Options
{
    Version version;
    int headerSize = 0;    // --header-size: the room the header takes, 32 to 65535
    bool padHeader = false; // --pad-header: the room is added in front of the payload
    qint64 slotSize = 0;   // --slot-size; 0: no slot (nothing padded, nothing checked)
    int align = 1;         // --align: 1, 2, 4, 8, 16 or 32
    int maxAlign = 0;      // --max-align: 8, 16 or 32; 0: the larger of 8 and align
    bool pad = false;      // --pad: up to the slot's end, trailer magic at its end
    bool confirm = false;  // --confirm: pad, image-ok set (a permanent upgrade)
    bool test = false;     // --test: pad, image-ok left erased (a test upgrade); not with confirm
    int maxSectors = 128;  // --max-sectors: the swap status the trailer holds room for
    int erasedValue = 0xFF; // --erased-val: 0 or 0xFF
    bool overwriteOnly = false; // --overwrite-only: a trailer without swap status
    bool hasSecurityCounter = false; // --security-counter N or auto
    bool securityCounterAuto = false;
    quint32 securityCounter = 0;
    bool hasLoadAddress = false; // --load-addr: RAM_LOAD and the address
    quint32 loadAddress = 0;
    bool hasRomFixed = false;    // --rom-fixed: ROM_FIXED and the address
    quint32 romFixed = 0;
    KeyFormat publicKeyFormat = KeyFormat::Hash;
    HashKind sha = HashKind::Auto;
    bool nonBootable = false;    // --non-bootable
    QVector<CustomTlv> customTlvs; // --custom-tlv, in the protected area

    int effectiveMaxAlign() const { return maxAlign ? maxAlign : qMax(8, align); }
    bool pads() const { return pad || confirm || test; }
};

// "N" or "auto" for --security-counter; false for any other text.
bool parseSecurityCounter(const QString &text, Options *options);

// Every option in its range and none against another; the first that is not
// refused in one line.
bool checkOptions(const Options &options, const Messages::Log &log);

// The trailer's size for these options: swap status (max-sectors records of
// three writes of --align bytes), swap size, swap info, copy done and image
// ok (a write of the maximum alignment each), the magic (rounded up to it).
// Overwrite-only keeps copy done, image ok and the magic. A slot given is
// checked to hold it whether or not the image is padded: a swap writes it.
qint64 trailerSize(const Options &options);

// A key MCUboot checks images with, read once from its PEM file and never
// written anywhere; held by OpenSSL, which clears it when it goes.
class Key
{
public:
    enum class Kind { None, EcdsaP256, EcdsaP384, Ed25519, Rsa2048, Rsa3072 };

    Key();
    ~Key();
    Key(Key &&) noexcept;
    Key &operator=(Key &&) noexcept;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    // Whether this build can read keys, sign and check signatures at all.
    static bool available();
    // SHA-384, which only OpenSSL gives: empty without it.
    static QByteArray sha384(const QByteArray &bytes);
    // A private key to sign with; password for an encrypted one (empty:
    // none). The file's bytes are cleared once read.
    bool loadPrivate(const QString &pemFile, const QByteArray &password, const Messages::Log &log);
    // A public key (or the public half of an unencrypted private one) to
    // check signatures with.
    bool loadPublic(const QString &pemFile, const Messages::Log &log);
    // The same from PEM text already in memory, named name in the refusals;
    // the caller clears its own copy.
    bool loadPrivateText(const QByteArray &pem, const QString &name, const QByteArray &password, const Messages::Log &log);
    bool loadPublicText(const QByteArray &pem, const QString &name, const Messages::Log &log);

    Kind kind() const;
    bool isPrivate() const;
    QString file() const;
    // As MCUboot embeds it and hashes it for KEYHASH: PKCS#1 for RSA,
    // SubjectPublicKeyInfo for the others (DER).
    QByteArray publicBytes() const;
    // The hash MCUboot pairs with the key: SHA-384 for P-384, else SHA-256.
    HashKind hashKind() const;
    // The signature's TLV type.
    quint16 signatureTlv() const;
    static QString kindName(Kind kind);

    // The signature of an image's hash as MCUboot checks it: ECDSA's DER
    // over the hash, RSA-PSS (SHA-256, MGF1 with SHA-256, 32 bytes of salt)
    // of the hash, Ed25519 over the hash's bytes. Empty on failure.
    QByteArray sign(const QByteArray &digest) const;
    bool verify(const QByteArray &digest, const QByteArray &signature) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// SHA-256 (the engine's own, with or without OpenSSL) or SHA-384 (OpenSSL
// only: empty without it).
QByteArray hash(HashKind kind, const QByteArray &bytes);

// What is signed: header, application and protected TLVs, as an image of
// these options holds them.
bool signedPayload(const QByteArray &payload, const QString &name, const Options &options, QByteArray *signedPart,
                   const Messages::Log &log);

// The image from payload (the application, the header's room in front of it
// unless options.padHeader), signed with key where one is given (nullptr:
// the hash alone). Refused in one line: options out of range, a payload too
// large, header room that is not zeros, an image that does not fit its slot.
bool makeImage(const QByteArray &payload, const QString &name, const Options &options, const Key *key,
               QByteArray *image, const Messages::Log &log);

// imgtool's --vector-to-sign: the payload to sign elsewhere, or its digest;
// with a key only to tell the hash (nullptr: options.sha).
bool vectorToSign(const QByteArray &payload, const QString &name, const Options &options, VectorKind kind,
                  const Key *publicKey, QByteArray *vector, const Messages::Log &log);

// imgtool's --fix-sig with --fix-sig-pubkey: the image with a signature made
// elsewhere (base64 text, blanks and line ends allowed around it), checked
// against the public key before anything is made. signatureName names the
// signature in the refusals.
bool makeImageWithSignature(const QByteArray &payload, const QString &name, const Options &options,
                            const Key &publicKey, const QByteArray &signatureText, const QString &signatureName,
                            QByteArray *image, const Messages::Log &log);

// One TLV as an image holds it.
struct TlvEntry
{
    quint16 type = 0;
    bool isProtected = false;
    qint64 offset = 0; // of its value in the image
    QByteArray value;
    QString name() const { return tlvName(type); }
};

// An image taken apart.
struct ImageInfo
{
    quint32 loadAddress = 0;
    int headerSize = 0;
    int protectedTlvSize = 0;
    quint32 imageSize = 0;
    quint32 flags = 0;
    Version version;
    QVector<TlvEntry> tlvs; // the protected first, each area in its order
    qint64 tlvAreaSize = 0;  // of the unprotected area, its info included
    qint64 end = 0;          // where the TLV area ends
    qint64 length = 0;       // of the whole image given
    // A trailer at the end of what was given (a padded image, a slot).
    bool hasTrailer = false;
    int trailerMaxAlign = 0;
    quint8 imageOk = 0;
    quint8 copyDone = 0;
    quint8 swapInfo = 0;

    qint64 signedSize() const { return qint64(headerSize) + imageSize + protectedTlvSize; }
    const TlvEntry *find(quint16 type) const;
    // As `info` shows it: the header's fields, each TLV's type, name, length
    // and area, the trailer.
    QVariantMap details() const;
};

// Takes an image apart; false with the reason (a phrase for "Cannot read
// NAME: ...") for anything that is not a whole MCUboot image.
bool readImage(const QByteArray &bytes, ImageInfo *info, QString *problem);
bool readImage(const QByteArray &bytes, const QString &name, ImageInfo *info, const Messages::Log &log);

// One thing a check looks at, whether it holds, and why not.
struct Check
{
    QString what;
    bool holds = true;
    QString detail;
};

// The hash TLV against the bytes it covers; with key also that the image
// names that key (KEYHASH or PUBKEY) and that its signature holds. Every
// check is listed; the first that fails is refused in one line.
bool checkImage(const QByteArray &bytes, const QString &name, const ImageInfo &info, const Key *key,
                QVector<Check> *checks, const Messages::Log &log);

// A row of a merge made into an image before it is laid out (a merge's
// --mcuboot ADDR, and the sign command, which is a merge of that one row):
// the file's bytes, as read in its format from its lowest address with any
// holes erased, become the payload; the image lies where the row puts the
// file. The slot is the row's where options.slotSize is 0.
struct Request
{
    qint64 address = 0; // the row whose file is made an image: the one at this address
    Options options;
    QString keyFile;    // a PEM private key to sign with; empty: no signature (hash alone)
    // A signature made elsewhere (base64 text in this file) and the public key
    // it is checked against before anything is made; instead of keyFile.
    QString fixSignatureFile;
    QString fixSignaturePublicKey;
};

} // namespace Mcuboot

#endif // MCUBOOTIMAGE_H
