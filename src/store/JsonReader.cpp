#include "store/JsonReader.h"

#include <QJsonDocument>

#include <cmath>

namespace verticora {

namespace {

// The converted value, or none for a key that was absent or null.
template <typename Convert>
auto unlessAbsent(const QJsonValue& value, Convert convert) -> std::optional<decltype(convert(value))>
{
    if (value.isUndefined())
        return std::nullopt;
    return convert(value);
}

} // namespace

std::optional<JsonReader> JsonReader::ofDocument(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return JsonReader(document.object());
}

QJsonValue JsonReader::required(QLatin1StringView key, QJsonValue::Type type)
{
    const QJsonValue value = m_object.value(key);
    if (value.type() != type) {
        m_ok = false;
        return {};
    }
    return value;
}

QJsonValue JsonReader::optional(QLatin1StringView key, QJsonValue::Type type)
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return QJsonValue(QJsonValue::Undefined);
    if (value.type() != type) {
        m_ok = false;
        return QJsonValue(QJsonValue::Undefined);
    }
    return value;
}

double JsonReader::number(QLatin1StringView key)
{
    return required(key, QJsonValue::Double).toDouble();
}

std::optional<double> JsonReader::optionalNumber(QLatin1StringView key)
{
    return unlessAbsent(optional(key, QJsonValue::Double), [](const QJsonValue& v) { return v.toDouble(); });
}

std::optional<qint64> exactInteger(double value)
{
    // 2^63 itself does not fit; every integral double below it in magnitude does.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || std::trunc(value) != value || value >= limit || value < -limit)
        return std::nullopt;
    return static_cast<qint64>(value);
}

qint64 JsonReader::integer(QLatin1StringView key)
{
    const QJsonValue value = required(key, QJsonValue::Double);
    if (!m_ok)
        return 0;
    const auto integer = exactInteger(value.toDouble());
    if (!integer)
        m_ok = false;
    return integer.value_or(0);
}

QString JsonReader::string(QLatin1StringView key)
{
    return required(key, QJsonValue::String).toString();
}

std::optional<QString> JsonReader::optionalString(QLatin1StringView key)
{
    return unlessAbsent(optional(key, QJsonValue::String), [](const QJsonValue& v) { return v.toString(); });
}

std::optional<bool> JsonReader::optionalBoolean(QLatin1StringView key)
{
    return unlessAbsent(optional(key, QJsonValue::Bool), [](const QJsonValue& v) { return v.toBool(); });
}

QJsonObject JsonReader::object(QLatin1StringView key)
{
    return required(key, QJsonValue::Object).toObject();
}

std::optional<QJsonObject> JsonReader::optionalObject(QLatin1StringView key)
{
    return unlessAbsent(optional(key, QJsonValue::Object), [](const QJsonValue& v) { return v.toObject(); });
}

QJsonArray JsonReader::array(QLatin1StringView key)
{
    return required(key, QJsonValue::Array).toArray();
}

} // namespace verticora
