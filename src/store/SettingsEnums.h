#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace verticora {

// The settings enumerations, stored in files by their raw names.

enum class ReminderMode { smoke, smoke2, smokeWide, smoke8, smoke20, menuBar };
enum class EdgeEffectStyle { smoke, vignette, glow, corners, tide, horizon };
enum class MenuBarStyle { color, score };
enum class LiveChartMotion { original, responsive, smooth };
enum class ControlsPage { posture, progress, settings };
// What a diagnostic lease lets the alert visuals show; `full` without a lease.
enum class DiagnosticVisualMode { full, noSmoke, noGlow, frozenIcon, noVisuals };

template <typename Enum>
struct RawNames;

template <>
struct RawNames<ReminderMode> {
    static constexpr std::array<std::pair<ReminderMode, std::string_view>, 6> table{{
        {ReminderMode::smoke, "smoke"},
        {ReminderMode::smoke2, "smoke2"},
        {ReminderMode::smokeWide, "smokeWide"},
        {ReminderMode::smoke8, "smoke8"},
        {ReminderMode::smoke20, "smoke20"},
        {ReminderMode::menuBar, "menuBar"},
    }};
};

template <>
struct RawNames<EdgeEffectStyle> {
    static constexpr std::array<std::pair<EdgeEffectStyle, std::string_view>, 6> table{{
        {EdgeEffectStyle::smoke, "smoke"},
        {EdgeEffectStyle::vignette, "vignette"},
        {EdgeEffectStyle::glow, "glow"},
        {EdgeEffectStyle::corners, "corners"},
        {EdgeEffectStyle::tide, "tide"},
        {EdgeEffectStyle::horizon, "horizon"},
    }};
};

template <>
struct RawNames<MenuBarStyle> {
    static constexpr std::array<std::pair<MenuBarStyle, std::string_view>, 2> table{{
        {MenuBarStyle::color, "color"},
        {MenuBarStyle::score, "score"},
    }};
};

template <>
struct RawNames<LiveChartMotion> {
    static constexpr std::array<std::pair<LiveChartMotion, std::string_view>, 3> table{{
        {LiveChartMotion::original, "original"},
        {LiveChartMotion::responsive, "responsive"},
        {LiveChartMotion::smooth, "smooth"},
    }};
};

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
[[nodiscard]] constexpr std::string_view rawName(Enum value)
{
    for (const auto& [candidate, name] : RawNames<Enum>::table) {
        if (candidate == value)
            return name;
    }
    return {};
}

// The case with exactly this raw name; none for any other string.
template <typename Enum>
[[nodiscard]] constexpr std::optional<Enum> fromRawName(std::string_view name)
{
    for (const auto& [candidate, raw] : RawNames<Enum>::table) {
        if (raw == name)
            return candidate;
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
