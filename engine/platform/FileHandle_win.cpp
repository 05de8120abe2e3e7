#include "FileHandle.h"

#include "Interrupts.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#ifndef REPLACEFILE_IGNORE_ACL_ERRORS
#define REPLACEFILE_IGNORE_ACL_ERRORS 0x00000004
#endif

namespace {

HANDLE handleOf(NativeFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

NativeFile nativeOf(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? noFile : reinterpret_cast<NativeFile>(handle);
}

// Absolute: some of the calls (ReplaceFile under Wine) take no relative name.
std::wstring nativeName(const QString &name)
{
    return QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath()).toStdWString();
}

} // namespace

LinkCheck followLinks(const QString &name, QString *resolved)
{
    *resolved = name;
    return LinkCheck::Followed;
}

void FileHandle::close()
{
    if (native != noFile)
        CloseHandle(handleOf(native));
    native = noFile;
    if (!tempName.isEmpty())
        DeleteFileW(nativeName(tempName).c_str());
    forgetTemporaryName();
}

bool FileHandle::openExisting(const QString &name, bool *busy)
{
    close();
    // Sharing only reading keeps every other writer out while we write.
    HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (busy)
        *busy = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    native = nativeOf(h);
    if (isOpen() && !isRegularFile())
        close();
    return isOpen();
}

bool FileHandle::openDevice(const QString &name)
{
    close();
    native = nativeOf(CreateFileW(nativeName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return isOpen();
}

bool FileHandle::openStandardOutput()
{
    close();
    HANDLE process = GetCurrentProcess();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE h = nullptr;
    if (out == nullptr || out == INVALID_HANDLE_VALUE
        || !DuplicateHandle(process, out, process, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    native = nativeOf(h);
    return isOpen();
}

bool FileHandle::createUnnamed(const QString &folder)
{
    close();
    if (!isUsableFolder(folder))
        return false;
    for (int i = 0; i < temporaryNameTries; ++i) {
        // Windows removes it when the last handle goes, also when the
        // process is ended.
        HANDLE h = CreateFileW(nativeName(temporaryFileName(folder)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            native = nativeOf(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool FileHandle::createBeside(const QString &folder)
{
    close();
    for (int i = 0; i < temporaryNameTries; ++i) {
        const QString name = temporaryFileName(folder);
        // Sharing deletion lets a console's Ctrl-C remove it while it is open.
        HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            native = nativeOf(h);
            tempName = name;
            interruptToken = Interrupts::removeOnInterrupt(name);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool FileHandle::replace(const QString &target)
{
    if (tempName.isEmpty())
        return false;
    CloseHandle(handleOf(native));
    native = noFile;
    const std::wstring from = nativeName(tempName);
    const std::wstring to = nativeName(target);
    // ReplaceFile keeps the old file's attributes, owner and access rights.
    // A file that another program holds open is found first: ReplaceFile
    // would fail on it too, but (under Wine) leave a file of its own behind.
    const bool exists = GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        HANDLE probe = CreateFileW(to.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            close();
            return false;
        }
        CloseHandle(probe);
    }
    const bool ok = exists ? ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                                          nullptr)
                           : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    if (ok)
        forgetTemporaryName();
    close();
    return ok;
}

bool FileHandle::canOverwriteAfterRefusedReplace()
{
    return false;
}

bool FileHandle::isMarkedReadOnly(const QString &name)
{
    // Windows users mark a file read-only to keep it.
    const DWORD attributes = GetFileAttributesW(nativeName(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool FileHandle::write(const char *data, qint64 size)
{
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size, 1 << 30));
        if (!WriteFile(handleOf(native), data, chunk, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

bool FileHandle::seek(qint64 offset)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(handleOf(native), at, nullptr, FILE_BEGIN);
}

bool FileHandle::setLength(qint64 size)
{
    LARGE_INTEGER at;
    at.QuadPart = size;
    return SetFilePointerEx(handleOf(native), at, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(native));
}

bool FileHandle::reserve(qint64 size)
{
    // Growing a file allocates its clusters, or fails for a full disk.
    return size <= this->size() || setLength(size);
}

bool FileHandle::sync()
{
    return FlushFileBuffers(handleOf(native));
}

bool FileHandle::openReader(FileHandle &reader) const
{
    reader.close();
    if (tempName.isEmpty())
        return false;
    // Its own handle: reads and writes then neither share a file position
    // nor wait for each other.
    reader.native = nativeOf(CreateFileW(nativeName(tempName).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return reader.isOpen();
}

bool FileHandle::lock()
{
    return true;
}

void FileHandle::startWriteBack(qint64, qint64)
{
    // Windows writes back on its own.
}

const char *FileHandle::mapView(qint64 offset, qint64 size) const
{
    HANDLE mapping = CreateFileMappingW(handleOf(native), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping)
        return nullptr;
    void *view = MapViewOfFile(mapping, FILE_MAP_READ, DWORD(quint64(offset) >> 32), DWORD(quint64(offset)), SIZE_T(size));
    CloseHandle(mapping); // the view keeps what it needs
    return static_cast<const char *>(view);
}

void FileHandle::unmapView(const char *view, qint64)
{
    if (view)
        UnmapViewOfFile(view);
}

qint64 FileHandle::mapGranularity()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return qint64(info.dwAllocationGranularity);
}

qint64 FileHandle::size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(handleOf(native), &size) ? qint64(size.QuadPart) : -1;
}

FileIdentity FileHandle::identity() const
{
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (isOpen() && GetFileInformationByHandle(handleOf(native), &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.node = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id.valid = true;
    }
    return id;
}

bool FileHandle::isRegularFile() const
{
    BY_HANDLE_FILE_INFORMATION info;
    return isOpen() && GetFileType(handleOf(native)) == FILE_TYPE_DISK
           && GetFileInformationByHandle(handleOf(native), &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void FileHandle::copyAttributesFrom(const QString &name)
{
    // ReplaceFile keeps them too on Windows itself, but not under Wine.
    const DWORD old = GetFileAttributesW(nativeName(name).c_str());
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                       | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (old == INVALID_FILE_ATTRIBUTES || !(old & kept))
        return;
    FILE_BASIC_INFO info = {}; // times of 0 stay as they are
    info.FileAttributes = old & kept;
    SetFileInformationByHandle(handleOf(native), FileBasicInfo, &info, sizeof info);
}
