#pragma once

namespace verticora {

// The application's ID: the name of its desktop entry, icon, metainfo, login item and
// session bus name, set once in the build.
inline constexpr char applicationID[] = VERTICORA_APP_ID;

} // namespace verticora
