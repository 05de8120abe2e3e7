#include "MergeSettings.h"

SettingsFile::SettingsFile(bool loading, const QString &path)
    : loading(loading)
    , settings(path, QSettings::IniFormat)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 reads and writes UTF-8; the same file must mean the same on Qt 5.
    // Older files with \x escapes read back either way.
    settings.setIniCodec("UTF-8");
#endif
}

void SettingsFile::exchangeString(const QString &key, QString &value)
{
    if (!loading)
        settings.setValue(key, value);
    else if (settings.contains(key))
        value = settings.value(key).toString();
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
    SettingsFile file(true, path);
    settingsFile = &file;
    exchange();
    settingsFile = nullptr;
}

void MergeSettings::save(const QString &path)
{
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
