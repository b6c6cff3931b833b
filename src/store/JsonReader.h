#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace verticora {

// The integer a JSON number stands for when it has no fractional part and fits in 64
// bits (1 and 1.0 alike); none otherwise.
[[nodiscard]] std::optional<qint64> exactInteger(double value);

// Strict reading of one JSON object of a data file: a required key must be present with
// the right JSON type, an optional key may be absent or null but, when present, must
// have the right type; extra keys are ignored. The first mistake makes `ok` false for
// good, and the values read after it are defaults, so callers check `ok` once at the end.
class JsonReader {
public:
    // Keeps its own (shared, cheap) copy, so a temporary object can be read safely.
    explicit JsonReader(QJsonObject object) : m_object(std::move(object)) {}
    // A reader of the root object of a JSON text; none for a text that does not parse or
    // whose root is not an object.
    [[nodiscard]] static std::optional<JsonReader> ofDocument(const QByteArray& bytes);

    [[nodiscard]] double number(QLatin1StringView key);
    [[nodiscard]] std::optional<double> optionalNumber(QLatin1StringView key);
    // A number with no fractional part that fits in 64 bits (1 and 1.0 alike).
    [[nodiscard]] qint64 integer(QLatin1StringView key);
    [[nodiscard]] QString string(QLatin1StringView key);
    [[nodiscard]] std::optional<QString> optionalString(QLatin1StringView key);
    [[nodiscard]] std::optional<bool> optionalBoolean(QLatin1StringView key);
    [[nodiscard]] QJsonObject object(QLatin1StringView key);
    [[nodiscard]] std::optional<QJsonObject> optionalObject(QLatin1StringView key);
    [[nodiscard]] QJsonArray array(QLatin1StringView key);

    [[nodiscard]] bool ok() const { return m_ok; }
    void fail() { m_ok = false; }

private:
    // The value of a required key of `type`; Undefined (and `ok` false) otherwise.
    QJsonValue required(QLatin1StringView key, QJsonValue::Type type);
    // Undefined for an absent or null key; fails on a present value of another type.
    QJsonValue optional(QLatin1StringView key, QJsonValue::Type type);

    QJsonObject m_object;
    bool m_ok = true;
};

} // namespace verticora
