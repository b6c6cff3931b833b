#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace verticora::bench {

// Heap allocations made by this process so far (global operator new is counted).
std::uint64_t allocationCount();

// Reports the allocations per iteration of the loop that `scope` spans.
class AllocationScope {
public:
    explicit AllocationScope(benchmark::State& state) : m_state(state), m_start(allocationCount()) {}
    ~AllocationScope()
    {
        const auto iterations = static_cast<double>(m_state.iterations());
        m_state.counters["allocs_per_call"] =
            iterations > 0 ? static_cast<double>(allocationCount() - m_start) / iterations : 0.0;
    }
    AllocationScope(const AllocationScope&) = delete;
    AllocationScope& operator=(const AllocationScope&) = delete;

private:
    benchmark::State& m_state;
    std::uint64_t m_start;
};

} // namespace verticora::bench
