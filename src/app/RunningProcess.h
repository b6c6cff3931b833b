#pragma once

#include <QtGlobal>

namespace verticora {

// Whether the process `pid` still runs: it exists and has not terminated. A process that
// has exited but whose parent has not collected it yet (a zombie) no longer runs.
[[nodiscard]] bool processRunning(qint64 pid);

// Whether `pid` is a Verticora of this user: it runs as this user, from a program of the
// same name as this one (an older build replaced on disk included).
[[nodiscard]] bool isOwnVerticora(qint64 pid);

} // namespace verticora
