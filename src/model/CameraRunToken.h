#pragma once

#include <cstdint>
#include <mutex>

namespace verticora {

// A counter shared by the main and the capture thread; work stamped with an older value
// is stale. Each read and increment holds the lock for that one operation only.
class CameraRunToken {
public:
    [[nodiscard]] std::int64_t value() const
    {
        std::lock_guard lock(m_lock);
        return m_value;
    }

    std::int64_t increment()
    {
        std::lock_guard lock(m_lock);
        return ++m_value;
    }

private:
    mutable std::mutex m_lock;
    std::int64_t m_value = 0;
};

} // namespace verticora
