#include "JsonWriter.h"

namespace {

constexpr int flushAt = 64 << 10;

void quote(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (uchar(c) < 0x20)
                out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    out += '"';
}

} // namespace

JsonWriter::JsonWriter(ByteSink &sink)
    : sink(sink)
{
}

void JsonWriter::value(const char *key)
{
    if (!hasMembers.empty()) {
        text += hasMembers.back() ? ",\n" : "\n";
        hasMembers.back() = true;
        text += QByteArray(int(4 * hasMembers.size()), ' ');
    }
    if (key) {
        text += '"';
        text += key;
        text += "\": ";
    }
}

void JsonWriter::close(char bracket)
{
    hasMembers.pop_back();
    text += '\n' + QByteArray(int(4 * hasMembers.size()), ' ') + bracket;
    if (hasMembers.empty())
        text += '\n';
    flushIfFull();
}

void JsonWriter::beginObject(const char *key)
{
    value(key);
    text += '{';
    hasMembers.push_back(false);
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::beginArray(const char *key)
{
    value(key);
    text += '[';
    hasMembers.push_back(false);
}

void JsonWriter::endArray()
{
    close(']');
}

void JsonWriter::member(const char *key, const QString &string)
{
    value(key);
    quote(text, string);
}

void JsonWriter::member(const char *key, qint64 number)
{
    value(key);
    text += QByteArray::number(number);
}

void JsonWriter::member(const char *key, bool flag)
{
    value(key);
    text += flag ? "true" : "false";
}

void JsonWriter::nullMember(const char *key)
{
    value(key);
    text += "null";
}

void JsonWriter::member(const char *key, const QVariant &v)
{
    switch (v.userType()) {
    case QMetaType::QVariantMap: {
        beginObject(key);
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            member(it.key().toUtf8().constData(), it.value());
        endObject();
        break;
    }
    case QMetaType::QVariantList: {
        beginArray(key);
        for (const QVariant &item : v.toList())
            member(nullptr, item);
        endArray();
        break;
    }
    case QMetaType::Bool:
        member(key, v.toBool());
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        member(key, v.toLongLong());
        break;
    default:
        if (v.isNull())
            nullMember(key);
        else
            member(key, v.toString());
    }
}

void JsonWriter::flushIfFull()
{
    if (text.size() < flushAt)
        return;
    failed = failed || !sink.write(text.constData(), text.size());
    text.clear();
}

bool JsonWriter::finish()
{
    failed = failed || (!text.isEmpty() && !sink.write(text.constData(), text.size()));
    text.clear();
    return !failed;
}
