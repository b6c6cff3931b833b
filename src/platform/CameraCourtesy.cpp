#include "platform/CameraCourtesy.h"

namespace verticora {

bool sameFile(const FileIdentity& a, const FileIdentity& b)
{
    if (a.characterDevice || b.characterDevice)
        return a.characterDevice && b.characterDevice && a.special == b.special;
    return a.device == b.device && a.inode == b.inode;
}

std::set<int> otherHolders(std::span<const OpenFile> snapshot, const FileIdentity& node, int self)
{
    std::set<int> holders;
    for (const OpenFile& open : snapshot) {
        if (open.pid != self && sameFile(open.file, node))
            holders.insert(open.pid);
    }
    return holders;
}

CameraCourtesy::CameraCourtesy(double quietSeconds) : m_quiet(quietSeconds) {}

void CameraCourtesy::stream()
{
    m_phase = Phase::streaming;
    m_freeSince.reset();
}

void CameraCourtesy::rest()
{
    m_phase = Phase::resting;
    m_freeSince.reset();
}

void CameraCourtesy::lend(double now, std::size_t others)
{
    m_phase = Phase::lent;
    m_freeSince.reset();
    if (others == 0)
        m_freeSince = now; // held by someone /proc does not show us: try again after the quiet period
}

CameraCourtesy::Action CameraCourtesy::observe(double now, bool opened, std::size_t others)
{
    switch (m_phase) {
    case Phase::resting:
        return Action::none;
    case Phase::streaming:
        if (others == 0)
            return Action::none; // our own open, or one that is over already
        lend(now, others);
        return Action::release;
    case Phase::lent:
        if (others > 0 || opened) {
            // Someone holds it, or held it a moment ago: the quiet period starts again.
            m_freeSince = others > 0 ? std::nullopt : std::optional(now);
            return Action::none;
        }
        if (!m_freeSince)
            m_freeSince = now;
        if (now - *m_freeSince < m_quiet)
            return Action::none;
        rest();
        return Action::takeBack;
    }
    return Action::none;
}

std::optional<double> CameraCourtesy::deadline() const
{
    if (m_phase != Phase::lent || !m_freeSince)
        return std::nullopt;
    return *m_freeSince + m_quiet;
}

} // namespace verticora
