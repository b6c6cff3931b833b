// The live score store's input is the stream of readings the model feeds it: any stream
// (times that jump, repeat or go back, missing or wild deviations, any levels) must keep
// the history within its window and cap, in order, with scores from 0 to 100.

#include "FuzzSupport.h"

#include "store/LiveScoreStore.h"

#include <cmath>
#include <cstring>
#include <limits>

using namespace verticora;
using namespace verticora::fuzz;

namespace {

// Reads the input as a sequence of fixed-size values; zeros once it runs out.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    [[nodiscard]] bool done() const { return m_offset >= m_size; }
    std::uint8_t byte() { return done() ? 0 : m_data[m_offset++]; }
    double number()
    {
        double value = 0;
        const std::size_t n = std::min(sizeof value, m_size - std::min(m_offset, m_size));
        std::memcpy(&value, m_data + m_offset, n);
        m_offset += n;
        return value;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LiveScoreStore store;
    InputReader input(data, size);
    double time = 1'700'000'000;
    while (!input.done()) {
        const std::uint8_t op = input.byte();
        // Mostly small steps, as the model sends them; sometimes any double at all.
        time = (op & 0x80) ? input.number() : time + (op & 0x3f) * 0.05 - ((op & 0x40) ? 0.5 : 0.0);
        const bool eligible = op & 0x01;
        const std::optional<double> deviation = (op & 0x02) ? std::optional(input.number() / 1e3) : std::nullopt;
        const double yellow = (op & 0x04) ? input.number() : 0.45;
        const double red = (op & 0x08) ? input.number() : 0.85;
        const std::optional<double> previous = store.current();
        const qsizetype before = store.points().size();
        store.record(deviation, yellow, red, time, eligible);

        const QList<LiveScorePoint>& points = store.points();
        require(points.size() <= LiveScoreStore::pointCap, "at most 2400 points");
        if (!std::isfinite(time))
            require(store.current() == previous && points.size() == before, "a non-finite time changes nothing");
        if (points.isEmpty())
            continue;
        const WallTime newest = points.back().date;
        for (qsizetype i = 0; i < points.size(); ++i) {
            const LiveScorePoint& point = points[i];
            require(std::isfinite(point.date), "every point has a finite date");
            require(i == 0 || points[i - 1].date <= point.date, "points are in ascending order");
            require(point.date >= newest - LiveScoreStore::window - LiveScoreStore::gapMarkerLead,
                    "no point is older than the window");
            require(!point.value || (*point.value >= 0 && *point.value <= 100), "scores lie from 0 to 100");
        }
        require(!store.current() || (*store.current() >= 0 && *store.current() <= 100), "the current score is 0 to 100");
    }
    return 0;
}
