#ifndef REGISTRY_H
#define REGISTRY_H

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QVector>

// The output formats, the input formats and the field kinds are each a
// registry of rows, every row in a source file of its own that registers it:
//
//     MERGEFILE_REGISTER(Uf2Writer) { OutputFormats::add(uf2Format()); }
//
// named after its file. engine/CMakeLists.txt lists those files; the build
// writes from that list the one function that calls every registration in
// the list's order, so that a row is in every program linked with the engine
// (a static library leaves out an object file that nothing refers to) and
// the rows keep one order: the order --help lists them in, and the order
// input formats are told apart in.
#define MERGEFILE_REGISTER(unit) void mergefileRegister_##unit()

namespace RegistryDetail {
void registerAll(); // written by the build
inline void registered()
{
    static const bool once = (registerAll(), true);
    Q_UNUSED(once)
}
} // namespace RegistryDetail

// One registry: the rows in the order they were registered. A row is named
// by registryName(row), found by argument-dependent lookup.
template <typename Row>
class Registry
{
public:
    // Called from a registration only: the row lives as long as the program.
    static void add(const Row &row) { rows().append(&row); }
    static const QVector<const Row *> &all()
    {
        RegistryDetail::registered();
        return rows();
    }
    static const Row *find(const QString &name)
    {
        for (const Row *row : all()) {
            if (name == registryName(*row))
                return row;
        }
        return nullptr;
    }
    static QStringList names()
    {
        QStringList list;
        for (const Row *row : all())
            list << QString(registryName(*row));
        return list;
    }

private:
    static QVector<const Row *> &rows()
    {
        static QVector<const Row *> list;
        return list;
    }
};

#endif // REGISTRY_H
