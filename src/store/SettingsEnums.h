#pragma once

#include <QMetaEnum>
#include <QObject>

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace verticora {

// The settings enumerations, stored in files by their raw names. Where the raw names are
// the enumerators' own, Qt's meta-object system supplies them; the other enumerations
// spell theirs out in a `RawNames` table.

namespace settings {
Q_NAMESPACE

enum class ReminderMode { smoke, smoke2, smokeWide, smoke8, smoke20, menuBar };
Q_ENUM_NS(ReminderMode)
enum class EdgeEffectStyle { smoke, vignette, glow, corners, tide, horizon };
Q_ENUM_NS(EdgeEffectStyle)
enum class MenuBarStyle { color, score };
Q_ENUM_NS(MenuBarStyle)
enum class LiveChartMotion { original, responsive, smooth };
Q_ENUM_NS(LiveChartMotion)

} // namespace settings

using settings::EdgeEffectStyle;
using settings::LiveChartMotion;
using settings::MenuBarStyle;
using settings::ReminderMode;

enum class ControlsPage { posture, progress, settings };
// What a diagnostic lease lets the alert visuals show; `full` without a lease.
enum class DiagnosticVisualMode { full, noSmoke, noGlow, frozenIcon, noVisuals };

// The raw names of an enumeration whose names are not its enumerators' own.
template <typename Enum>
struct RawNames;

template <>
struct RawNames<ControlsPage> {
    static constexpr std::array<std::pair<ControlsPage, std::string_view>, 3> table{{
        {ControlsPage::posture, "Posture"},
        {ControlsPage::progress, "Progress"},
        {ControlsPage::settings, "Settings"},
    }};
};

template <>
struct RawNames<DiagnosticVisualMode> {
    static constexpr std::array<std::pair<DiagnosticVisualMode, std::string_view>, 5> table{{
        {DiagnosticVisualMode::full, "full"},
        {DiagnosticVisualMode::noSmoke, "no-smoke"},
        {DiagnosticVisualMode::noGlow, "no-glow"},
        {DiagnosticVisualMode::frozenIcon, "frozen-icon"},
        {DiagnosticVisualMode::noVisuals, "no-visuals"},
    }};
};

template <typename Enum>
concept HasRawNameTable = requires { RawNames<Enum>::table; };

template <typename Enum>
[[nodiscard]] std::string_view rawName(Enum value)
{
    if constexpr (HasRawNameTable<Enum>) {
        for (const auto& [candidate, name] : RawNames<Enum>::table) {
            if (candidate == value)
                return name;
        }
        return {};
    } else {
        const char* key = QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value));
        return key ? std::string_view(key) : std::string_view();
    }
}

// The case with exactly this raw name; none for any other string (QMetaEnum::keyToValue
// would also take the scoped "verticora::settings::smoke").
template <typename Enum>
[[nodiscard]] std::optional<Enum> fromRawName(std::string_view name)
{
    if constexpr (HasRawNameTable<Enum>) {
        for (const auto& [candidate, raw] : RawNames<Enum>::table) {
            if (raw == name)
                return candidate;
        }
    } else {
        const QMetaEnum names = QMetaEnum::fromType<Enum>();
        for (int i = 0; i < names.keyCount(); ++i) {
            if (name == names.key(i))
                return static_cast<Enum>(names.value(i));
        }
    }
    return std::nullopt;
}

[[nodiscard]] constexpr bool showsSmoke(DiagnosticVisualMode mode)
{
    return mode == DiagnosticVisualMode::full || mode == DiagnosticVisualMode::noGlow
        || mode == DiagnosticVisualMode::frozenIcon;
}

[[nodiscard]] constexpr bool showsMenuGlow(DiagnosticVisualMode mode)
{
    return mode == DiagnosticVisualMode::full || mode == DiagnosticVisualMode::noSmoke
        || mode == DiagnosticVisualMode::frozenIcon;
}

} // namespace verticora
