#include "MergeJob.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#ifdef MERGEFILE_HAVE_OPENSSL
#include <openssl/evp.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MergeMainWindow", text);
}

struct FreeDeleter
{
    void operator()(char *p) const { std::free(p); }
};

// Reads exactly size bytes into dst and makes sure nothing follows them: a file
// that shrank, grew or failed since it was sized must not give a wrong image.
bool readExactly(QFile &file, char *dst, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(dst + done, size - done);
        if (n <= 0)
            return false;
        done += n;
    }
    char extra;
    return file.read(&extra, 1) == 0;
}

// Huge pages make the first touch of a large image far cheaper: a few hundred
// faults instead of one per 4 KiB.
void adviseHugePages(char *data, qint64 size)
{
#ifdef Q_OS_LINUX
    const quintptr page = 4096;
    const quintptr begin = (quintptr(data) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(page - 1);
    if (end > begin + (2u << 20))
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

QByteArray sha256(const char *data, qint64 size)
{
    const qint64 chunkLimit = 1 << 30;
#ifdef MERGEFILE_HAVE_OPENSSL
    // Several times faster than QCryptographicHash where the CPU has SHA instructions.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    for (qint64 done = 0; ok && done < size; done += chunkLimit)
        ok = EVP_DigestUpdate(context, data + done, size_t(qMin(size - done, chunkLimit))) == 1;
    ok = ok && EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    if (ok)
        return QByteArray(reinterpret_cast<const char *>(digest), int(length));
#endif
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qint64 done = 0; done < size; done += chunkLimit) {
        const int chunk = int(qMin(size - done, chunkLimit));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        hash.addData(QByteArrayView(data + done, chunk));
#else
        hash.addData(data + done, chunk);
#endif
    }
    return hash.result();
}

} // namespace

struct MergeJob::Private
{
    QVector<MergeRow> rows;
    QString outputFileName;
    LogSink log;

    MergeLayout layout;
    // Open sources, one per placement, from check() until write() has read them.
    std::vector<std::unique_ptr<QFile>> sources;
    // Contents of sources that cannot be sized up front (pipes, terminals).
    QVector<QByteArray> preread;
    bool checked = false;

    std::unique_ptr<char, FreeDeleter> image;
    bool secondThread = false;
    QByteArray digest;

    bool fail(const QString &message)
    {
        log(message);
        return false;
    }
    bool writeImage(const char *data, qint64 size);
};

MergeJob::MergeJob(QVector<MergeRow> rows, QString outputFileName, LogSink log)
    : d(new Private)
{
    d->rows = std::move(rows);
    d->outputFileName = std::move(outputFileName);
    d->log = std::move(log);
}

MergeJob::~MergeJob() = default;

const MergeLayout &MergeJob::layout() const
{
    return d->layout;
}

qint32 MergeJob::addressFromText(const QString &text)
{
    return text.toInt(nullptr, 16);
}

qint64 MergeJob::maxImageSize()
{
    // The image is one malloc'd block, indexed with pointer arithmetic.
    const auto limit = std::numeric_limits<std::ptrdiff_t>::max();
    return limit < std::numeric_limits<qint64>::max() ? qint64(limit)
                                                      : std::numeric_limits<qint64>::max();
}

bool MergeJob::check()
{
    d->layout = MergeLayout();
    d->sources.clear();
    d->preread.clear();
    d->checked = false;

    if (d->outputFileName.isEmpty())
        return d->fail(tr("Error!!!Merge file name cannot be empty!"));

    d->log(tr("Begin to merge..."));

    struct Entry
    {
        int row;
        QString fileName;
    };
    QMap<qint32, Entry> filesByAddress;
    for (int i = 0; i < d->rows.size(); ++i) {
        const MergeRow &row = d->rows.at(i);
        if (!row.enabled)
            continue;
        if (row.fileName.isEmpty() || row.addressText.isEmpty())
            return d->fail(tr("Error!!!File name or start address of file%1 cannot be empty!").arg(i + 1));
        const qint32 address = addressFromText(row.addressText);
        if (filesByAddress.contains(address))
            return d->fail(tr("Error!!!The address of file%1 is duplicated!").arg(i + 1));
        filesByAddress.insert(address, Entry{i + 1, row.fileName});
    }
    if (filesByAddress.isEmpty())
        return d->fail(tr("Error!!!No file to be merged!"));

    const auto end = filesByAddress.constEnd();
    for (auto it = filesByAddress.constBegin(); it != end; ++it) {
        auto file = std::make_unique<QFile>(it->fileName);
        if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return d->fail(tr("Error!!!Cannot open file%1!").arg(it->fileName));
        QByteArray content;
        qint64 size = 0;
        if (file->isSequential()) {
            content = file->readAll();
            size = content.size();
        } else {
            size = file->size();
        }

        const qint32 address = it.key();
        if (it == filesByAddress.constBegin()) {
            if (address < imageBase)
                return d->fail(tr("Error!!!Start address cannot less than 0x1000!"));
            d->layout.leadingFill = qint64(address) - imageBase;
        }
        MergePlacement placement;
        placement.row = it->row;
        placement.address = address;
        placement.fileName = it->fileName;
        placement.offset = qint64(address) - imageBase;
        placement.size = size;
        const auto next = std::next(it);
        if (next != end) {
            const qint64 gap = qint64(next.key()) - size - qint64(address);
            if (gap < 0)
                return d->fail(tr("Error!!!File size of %1 is out of range!").arg(it->fileName));
            placement.fillAfter = gap;
        } else {
            if (size > maxImageSize() - placement.offset)
                return d->fail(tr("Error!!!Merge image of %1 bytes is too large!")
                                       .arg(quint64(placement.offset) + quint64(size)));
            d->layout.imageSize = placement.offset + size;
        }
        d->layout.placements.append(placement);
        d->sources.push_back(std::move(file));
        d->preread.append(content);
    }
    d->checked = true;
    return true;
}

bool MergeJob::write()
{
    if (!d->checked)
        return false;
    d->checked = false;

    const qint64 size = d->layout.imageSize;
    // Sized once; the sources are read straight into their places.
    d->image.reset(size > 0 ? static_cast<char *>(std::malloc(size_t(size))) : nullptr);
    if (size > 0 && !d->image)
        return d->fail(tr("Error!!!Not enough memory for a merge image of %1 bytes!").arg(size));
    char *image = d->image.get();
    adviseHugePages(image, size);

    if (d->layout.leadingFill > 0)
        std::memset(image, fillByte, size_t(d->layout.leadingFill));
    const int count = d->layout.placements.size();
    // Places source k and the fill after it; touches nothing shared.
    auto place = [this, image](int k) {
        const MergePlacement &p = d->layout.placements.at(k);
        char *dst = image + p.offset;
        QFile &source = *d->sources.at(size_t(k));
        bool ok = true;
        if (source.isSequential()) {
            if (p.size > 0)
                std::memcpy(dst, d->preread.at(k).constData(), size_t(p.size));
        } else {
            ok = readExactly(source, dst, p.size);
        }
        source.close();
        if (ok && p.fillAfter > 0)
            std::memset(dst + p.size, fillByte, size_t(p.fillAfter));
        return ok;
    };
    std::vector<char> placed(size_t(count), 0);
    int split = count; // placements from here on go to the second thread
    if (d->secondThread && count > 1) {
        // Halve the bytes, not the files.
        qint64 bytes = 0;
        for (split = 0; split < count - 1 && 2 * bytes < size; ++split)
            bytes += d->layout.placements.at(split).size + d->layout.placements.at(split).fillAfter;
    }
    std::thread helper;
    if (split < count)
        helper = std::thread([&] {
            for (int k = split; k < count; ++k)
                placed[size_t(k)] = place(k);
        });
    for (int k = 0; k < split; ++k)
        placed[size_t(k)] = place(k);
    if (helper.joinable())
        helper.join();
    d->sources.clear();
    d->preread.clear();
    for (int k = 0; k < count; ++k) {
        if (!placed[size_t(k)])
            return d->fail(tr("Error!!!Fail to read file%1!").arg(d->layout.placements.at(k).fileName));
    }

    QByteArray digest;
    std::thread hasher;
    if (d->secondThread)
        hasher = std::thread([&digest, image, size] { digest = sha256(image, size); });
    const bool written = d->writeImage(image, size);
    if (hasher.joinable())
        hasher.join();
    if (!written)
        return false;
    d->digest = digest;
    d->log(tr("Merge success!"));
    return true;
}

void MergeJob::setUseSecondThread(bool on)
{
    d->secondThread = on;
}

bool MergeJob::Private::writeImage(const char *data, qint64 size)
{
    const QString failedWrite = tr("Error!!!Fail to write merge file%1").arg(outputFileName);
    const QFileInfo target(outputFileName);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or pipe is written into; a temporary file renamed over it
        // would replace the node itself.
        QFile file(outputFileName);
        if (!file.open(QIODevice::WriteOnly))
            return fail(tr("Error!!!Fail to open merge file%1").arg(outputFileName));
        if (file.write(data, size) != size || !file.flush())
            return fail(failedWrite);
        file.close();
        if (file.error() != QFileDevice::NoError)
            return fail(failedWrite);
        return true;
    }

    // The old output stays as it is until the whole image is on disk beside it.
    QSaveFile file(outputFileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return fail(tr("Error!!!Fail to open merge file%1").arg(outputFileName));
    // An unfinished QSaveFile is discarded when it goes out of scope.
    if (file.write(data, size) != size || !file.commit())
        return fail(failedWrite);
    return true;
}

QByteArray MergeJob::imageSha256() const
{
    return d->digest;
}
