// performance-request.json as the diagnostic lease reads it: whatever the file holds, a
// lease never reaches past 15 minutes on either clock, steers the tracker only with the
// settings it honours, and reading the same bytes again changes nothing.

#include "FuzzSupport.h"

#include "store/ControlFile.h"
#include "store/DiagnosticVisualPolicy.h"

using namespace verticora;
using namespace verticora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFolder folder;
    const InputFile input(folder, QStringLiteral("performance-request.json"), data, size);
    const std::optional<QByteArray> read = readControlFile(input.path);
    require(read.has_value() == (size <= std::size_t(controlFileLimit)), "a control file is read unless oversized");

    const double wall = InputFile::clock;
    const double up = 5000;
    DiagnosticVisualLease lease;
    lease.replace(read, wall, up);
    if (!lease.request) {
        require(!lease.active(wall, up) && lease.mode(wall, up) == DiagnosticVisualMode::full
                    && lease.trackerRadius(wall, up) == 7 && !lease.forcesFullTracker(wall, up),
                "a refused request changes nothing");
        return 0;
    }
    require(lease.active(wall, up), "an accepted request starts a lease");
    const double remaining = lease.remaining(wall, up);
    require(remaining > 0 && remaining <= DiagnosticVisualRequest::maximumLease, "a lease lasts at most 15 minutes");
    const int radius = lease.trackerRadius(wall, up);
    require(radius == 7 || radius == 10 || radius == 12, "only the honoured radii reach the tracker");
    require(lease.forcesFullTracker(wall, up) == (lease.request->trackerMode == QStringLiteral("full")),
            "full passes only when asked for exactly");

    const double deadline = lease.deadline;
    lease.replace(read, wall + 100, up + 100);
    require(lease.deadline == deadline, "the same file again keeps the lease's end");
    require(!lease.active(wall - 3600, up + DiagnosticVisualRequest::maximumLease),
            "setting the clock back never extends a lease");
    require(!lease.active(wall + DiagnosticVisualRequest::maximumLease, up), "the wall clock ends a lease too");
    return 0;
}
