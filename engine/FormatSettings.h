#ifndef FORMATSETTINGS_H
#define FORMATSETTINGS_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <map>
#include <memory>

// What formats keep for themselves (a memory word's width, a C array's
// name, a UF2 family), each in a type of the format's own, held here without
// the merge knowing the types: a format's options put them here, its reader
// or writer takes them out, and whatever lies between only carries them.
class FormatSettings
{
public:
    FormatSettings() = default;
    FormatSettings(const FormatSettings &other) { *this = other; }
    FormatSettings &operator=(const FormatSettings &other)
    {
        if (this != &other) {
            held.clear();
            for (const auto &entry : other.held)
                held[entry.first] = entry.second->copy();
        }
        return *this;
    }
    FormatSettings(FormatSettings &&) = default;
    FormatSettings &operator=(FormatSettings &&) = default;

    // The settings of that type, to change; made with their defaults first.
    template <typename T>
    T &set()
    {
        std::unique_ptr<Held> &slot = held[key<T>()];
        if (!slot)
            slot.reset(new Of<T>());
        return static_cast<Of<T> *>(slot.get())->value;
    }
    // The settings of that type as set, or their defaults.
    template <typename T>
    T get() const
    {
        const auto found = held.find(key<T>());
        return found == held.end() ? T() : static_cast<const Of<T> *>(found->second.get())->value;
    }

private:
    struct Held
    {
        virtual ~Held() = default;
        virtual std::unique_ptr<Held> copy() const = 0;
    };
    template <typename T>
    struct Of : Held
    {
        T value{};
        std::unique_ptr<Held> copy() const override { return std::unique_ptr<Held>(new Of<T>(*this)); }
    };
    // One address for each type: its key.
    template <typename T>
    static const void *key()
    {
        static const char mark = 0;
        return &mark;
    }
    std::map<const void *, std::unique_ptr<Held>> held;
};

// An option a format takes for itself, as the command line spells it: the
// format's row lists it, and it reads its value into the format's own
// settings.
struct FormatOption
{
    QString name;        // without dashes: "word-bits"
    QString valueName;   // "n"
    QString help;        // one paragraph of plain text
    QStringList words;   // what a shell offers for the value; none: nothing
    // Reads value into settings; false with a one-line usage error.
    bool (*parse)(const QString &value, FormatSettings &settings, QString *error) = nullptr;
};

// The option of that name among a format's, or null.
inline const FormatOption *findOption(const QVector<FormatOption> &options, const QString &name)
{
    for (const FormatOption &option : options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

#endif // FORMATSETTINGS_H
