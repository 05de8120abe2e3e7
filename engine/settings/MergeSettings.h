#ifndef MERGESETTINGS_H
#define MERGESETTINGS_H

#include <QSettings>
#include <QString>

#include <array>

class SettingsFile;

// What the user entered, kept from one run to the next in "cfg/MergeTool.ini":
// the eight rows and the output name. Plain data; the window copies it to and
// from its widgets.
struct MergeSettings
{
    static constexpr int rowCount = 8;

    std::array<QString, rowCount> fileNames;
    std::array<bool, rowCount> enables{};
    std::array<QString, rowCount> addresses; // as typed, never converted
    QString mergeFileName;
    SettingsFile *settingsFile = nullptr; // only while a load or save runs

    // Relative: it lies in the program's directory, which main makes current.
    static QString defaultPath() { return QStringLiteral("cfg/MergeTool.ini"); }
    // The same file in the user's own settings folder (~/.config/MergeFile
    // on Linux, the local AppData\MergeFile on Windows), for a program
    // installed where it cannot write beside itself.
    static QString userPath();
    // Where the window keeps its rows: beside a copy of the program that is
    // the user's own (not installed, in a folder the user owns and can
    // write), as it always has; else the user's file, which is then also
    // read, unless there is none yet and the program's folder holds one (a
    // team's shipped defaults).
    static bool keepsRowsBesideProgram();
    static QString windowLoadPath();
    static QString windowSavePath();

    // A missing or unreadable file leaves every field as it was; a file that
    // cannot be written is left alone. Neither is an error worth showing.
    // Only a regular file is read or written: a FIFO there would hold the
    // window for ever, and a device, socket or folder is not ours to replace.
    void load(const QString &path = defaultPath());
    void save(const QString &path = defaultPath());

    // The keys of the file's section whose values hold bytes that are not
    // UTF-8: they are read as other text than what the bytes meant.
    static QStringList keysNotInUtf8(const QString &path);

private:
    void exchange();
};

// One load or save: the direction and the INI file it works on. Destroying it
// is what writes a save to disk.
class SettingsFile
{
public:
    SettingsFile(bool loading, const QString &path);

    void exchangeString(const QString &key, QString &value);
    void exchangeFlag(const QString &key, bool &value);

    const bool loading;
    QSettings settings;
};

#endif // MERGESETTINGS_H
