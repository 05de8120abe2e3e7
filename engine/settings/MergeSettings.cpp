#include "MergeSettings.h"

#include "platform/FileHandle.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

static void useUtf8(QSettings &settings);

SettingsFile::SettingsFile(bool loading, const QString &path)
    : loading(loading)
    , settings(path, QSettings::IniFormat)
{
    useUtf8(settings);
}

static void useUtf8(QSettings &settings)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 reads and writes UTF-8; the same file must mean the same on Qt 5.
    // Older files with \x escapes read back either way.
    settings.setIniCodec("UTF-8");
#else
    Q_UNUSED(settings);
#endif
}

// The "key=value" lines of one section of an INI file, as their bytes stand
// (key and value trimmed), in the file's order.
static QVector<QPair<QByteArray, QByteArray>> sectionLines(const QString &path, const QString &group)
{
    QVector<QPair<QByteArray, QByteArray>> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray header = '[' + group.toUtf8().toLower() + ']';
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inGroup = line.toLower() == header;
            continue;
        }
        const int equals = line.indexOf('=');
        if (inGroup && equals > 0)
            lines.append({line.left(equals).trimmed(), line.mid(equals + 1).trimmed()});
    }
    return lines;
}

// A hand-written value with a comma outside quotes (File1Name=a,b.bin) reads
// as a list; what the user meant is the text of the line. Its escapes and
// quotes still mean what they mean to the settings file: the text is read
// once more, quoted, by the settings file itself.
static QString textOfLine(const QString &path, const QString &group, const QString &key, const QStringList &list)
{
    QByteArray raw;
    bool found = false;
    for (const auto &line : sectionLines(path, group)) {
        if (line.first == key.toUtf8()) {
            raw = line.second;
            found = true;
        }
    }
    if (!found || raw.contains('"'))
        return list.join(QLatin1Char(','));
    QTemporaryFile quoted;
    if (!quoted.open())
        return list.join(QLatin1Char(','));
    quoted.write("[g]\nk=\"" + QString::fromUtf8(raw).toUtf8() + "\"\n");
    quoted.close();
    QSettings reader(quoted.fileName(), QSettings::IniFormat);
    useUtf8(reader);
    return reader.value(QStringLiteral("g/k")).toString();
}

void SettingsFile::exchangeString(const QString &key, QString &value)
{
    if (!loading) {
        settings.setValue(key, value);
    } else if (settings.contains(key)) {
        const QVariant stored = settings.value(key);
        if (stored.userType() == QMetaType::QStringList)
            value = textOfLine(settings.fileName(), settings.group(), key, stored.toStringList());
        else
            value = stored.toString();
    }
}

// Only a value that reads as the decimal integer 1 means checked.
void SettingsFile::exchangeFlag(const QString &key, bool &value)
{
    if (!loading)
        settings.setValue(key, value ? QStringLiteral("1") : QStringLiteral("0"));
    else if (settings.contains(key))
        value = settings.value(key).toString().toInt(nullptr, 10) == 1;
}

void MergeSettings::load(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return;
    SettingsFile file(true, path);
    settingsFile = &file;
    exchange();
    settingsFile = nullptr;
}

void MergeSettings::save(const QString &path)
{
    // Through a link only where following it is safe (not another user's
    // link in a shared folder), and only onto a regular file or none.
    QString resolved;
    if (followLinks(path, &resolved) != LinkCheck::Followed)
        return;
    const QFileInfo info(resolved);
    if (info.exists() && !info.isFile())
        return;
    SettingsFile file(false, path);
    settingsFile = &file;
    exchange();
    settingsFile = nullptr;
}

void MergeSettings::exchange()
{
    SettingsFile &file = *settingsFile;
    file.settings.beginGroup(QStringLiteral("MergeTool"));
    for (int i = 0; i < rowCount; ++i)
        file.exchangeString(QStringLiteral("File%1Name").arg(i + 1), fileNames[size_t(i)]);
    for (int i = 0; i < rowCount; ++i)
        file.exchangeString(QStringLiteral("File%1Addr").arg(i + 1), addresses[size_t(i)]);
    for (int i = 0; i < rowCount; ++i)
        file.exchangeFlag(QStringLiteral("File%1Enable").arg(i + 1), enables[size_t(i)]);
    file.exchangeString(QStringLiteral("MergeFileName"), mergeFileName);
    file.settings.endGroup();
}

QStringList MergeSettings::keysNotInUtf8(const QString &path)
{
    QStringList keys;
    for (const auto &line : sectionLines(path, QStringLiteral("MergeTool"))) {
        if (QString::fromUtf8(line.second).toUtf8() != line.second)
            keys << QString::fromUtf8(line.first);
    }
    return keys;
}

QString MergeSettings::userPath()
{
    // A relative XDG_CONFIG_HOME means nothing by the XDG rules, which then
    // name ~/.config: it would put the rows wherever the program happens to be.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (QDir::isRelativePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.config");
    return folder + QStringLiteral("/MergeFile/MergeTool.ini");
}

// A copy of the user's own: not installed by the system (into the prefix it
// was built for, or Program Files), in a folder the user owns, which takes a
// new file. Root may write into /usr/bin, and would leave rows there that no
// package owns and every user then starts with. Whether it takes a file is
// tried, not judged from the folder's mode: on Windows only trying tells.
bool MergeSettings::keepsRowsBesideProgram()
{
    const QString program = QDir::currentPath(); // main makes the program's folder current
    if (ProgramFolder::isInstalled(program) || !ProgramFolder::isOwnedByUser(program))
        return false;
    const QFileInfo file(defaultPath());
    QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir())
        folder = QFileInfo(folder).absolutePath(); // "cfg" is made on the first save
    if (file.exists() && !file.isWritable())
        return false;
    FileHandle probe;
    return probe.createUnnamed(folder);
}

QString MergeSettings::windowLoadPath()
{
    if (keepsRowsBesideProgram() || !QFileInfo::exists(userPath()))
        return defaultPath();
    return userPath();
}

QString MergeSettings::windowSavePath()
{
    if (keepsRowsBesideProgram())
        return defaultPath();
    QDir().mkpath(QFileInfo(userPath()).absolutePath());
    return userPath();
}
