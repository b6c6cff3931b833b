#pragma once

#include "store/DayProgress.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace verticora {

// The content of daily-progress.json.
struct DailyProgressFile {
    static constexpr qint64 currentVersion = 1;

    qint64 version = currentVersion;
    QString timeZone;
    QList<DayProgress> days; // ascending by dateID

    // Written by this version, in the calendar's zone, every day valid, no day twice.
    [[nodiscard]] bool acceptable() const;

    friend bool operator==(const DailyProgressFile&, const DailyProgressFile&) = default;
};

// Compact JSON with sorted keys.
[[nodiscard]] QByteArray encodeDailyProgress(const DailyProgressFile& file);

// Strict decoding: every key present with the right JSON type, exactly 24 hours a day,
// an integral version; extra keys are ignored. Content is not checked (see `acceptable`).
[[nodiscard]] std::optional<DailyProgressFile> decodeDailyProgress(const QByteArray& bytes);

} // namespace verticora
