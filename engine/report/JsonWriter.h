#ifndef JSONWRITER_H
#define JSONWRITER_H

#include "Bytes.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <vector>

// JSON written as it is made, to a sink, in the layout Qt's own writer gives
// (four blanks an indent): a map of a million segments never stands whole
// in memory. Members are written in the order given, which for Qt's is the
// order of their keys.
class JsonWriter
{
public:
    explicit JsonWriter(ByteSink &sink);

    // key: the member's name in an object; null for an array's element or the
    // whole text.
    void beginObject(const char *key = nullptr);
    void endObject();
    void beginArray(const char *key);
    void endArray();
    void member(const char *key, const QString &text);
    void member(const char *key, qint64 number);
    void member(const char *key, bool flag);
    void nullMember(const char *key);
    // A tree of maps, lists, text, numbers and flags, as QJsonValue would
    // show it; map members in the order of their keys.
    void member(const char *key, const QVariant &value);
    // Writes what is left; false when any write failed.
    bool finish();

private:
    void value(const char *key);
    void close(char bracket);
    void flushIfFull();

    ByteSink &sink;
    QByteArray text;
    std::vector<bool> hasMembers; // of each open container, innermost last
    bool failed = false;
};

#endif // JSONWRITER_H
