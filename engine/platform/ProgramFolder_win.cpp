#include "ProgramFolder.h"

#include <QDir>

#include <windows.h>
#include <aclapi.h>

QStringList ProgramFolder::installFolders()
{
    // Program Files as the system names it to a 32-bit program, the 64-bit
    // one beside it, and the x86 one: wherever an installer may put it.
    QStringList folders;
    for (const char *name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        const QString folder = QDir::fromNativeSeparators(qEnvironmentVariable(name));
        if (!folder.isEmpty() && !folders.contains(folder, Qt::CaseInsensitive))
            folders << folder;
    }
    return folders;
}

bool ProgramFolder::isOwnedByUser(const QString &folder)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring path = QDir::toNativeSeparators(folder).toStdWString();
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor)
            != ERROR_SUCCESS
        || !owner) {
        if (descriptor)
            LocalFree(descriptor);
        return true; // no owners here (FAT, some shares)
    }
    bool owned = true;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::string buffer(size, '\0');
        if (size > 0 && GetTokenInformation(token, TokenUser, &buffer[0], size, &size)) {
            const TOKEN_USER *user = reinterpret_cast<const TOKEN_USER *>(buffer.data());
            BOOL member = FALSE;
            // Files an elevated administrator makes belong to the
            // Administrators group, of which that user is a member.
            owned = EqualSid(owner, user->User.Sid) || (CheckTokenMembership(nullptr, owner, &member) && member);
        }
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return owned;
}
