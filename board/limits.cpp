// The start-up line of every limit, so an operator sees what the server enforces.
#include "board/limits.h"

#include <string>

#include "board/log.h"

namespace board {

void LogLimits() {
    auto n = [](auto v) { return std::to_string(v); };
    Log("limit: request body " + n(kMaxBodyBytes) + " bytes, " + n(kMaxBufferedBodyBytes >> 20) +
        " MiB of bodies in memory at once");
    Log("limit: run length " + n(kMaxRunFrames) + " steps, program version " +
        n(kMaxProgramVersionChars) + " characters, dated from " + n(kEarliestRunYear) + "-" +
        n(kEarliestRunMonth) + "-" + n(kEarliestRunDay) + " to " + n(kMaxRunDateAheadHours) +
        " hours ahead");
    Log("limit: verification " + n(kVerifyCpuSeconds) + " s processor time, " +
        n(kVerifyWallSeconds) + " s wall time, " + n(kVerifyAddressSpaceBytes >> 20) +
        " MiB address space, " + n(kMaxVerifyAttempts) + " attempts, niceness +" + n(kVerifyNice) +
        " as a batch job");
    Log("limit: claim lease " + n(kClaimLeaseMs / 1000) + " s, renewed every " +
        n(kClaimRenewMs / 1000) + " s, pending runs " + n(kMaxPendingRuns));
    Log("limit: submissions per address " + n(static_cast<int>(kSubmitBurst)) + " at once, " +
        n(static_cast<int>(kSubmitsPerSecond)) + " per second after");
    Log("limit: connections " + n(kMaxConnections) + ", per address " +
        n(kMaxConnectionsPerAddress) + ", idle timeout " + n(kConnectionTimeoutSeconds) + " s, " +
        n(kHttpThreads) + " threads");
    Log("limit: request head " + n(kMaxHeadBytes / 1024) + " KiB, " + n(kHeadTimeoutSeconds) +
        " s from its first byte by default (" + n(kMaxHeadTimeoutSeconds) +
        " s at most); a connection closed after an answer is drained for " +
        n(kCloseDrainSeconds) + " s, " + n(kMaxDiscardBytes >> 20) + " MiB at most");
    Log("limit: PostgreSQL connections " + n(kDatabaseConnections) + ", connect timeout " +
        n(kDatabaseConnectTimeoutSeconds) + " s, statement timeout " +
        n(kDatabaseStatementTimeoutMs / 1000) + " s; SQLite readers " + n(kSqliteReaders));
    Log("limit: a copy agrees on " + n(kCopyAgreementPercent) + "% of its check values, " +
        n(kMaxCopyCandidates) + " earlier runs compared at most");
    Log("limit: page size " + n(kMaxPageLimit) + " entries");
    Log("limit: web page files " + n(kMaxWebFileBytes / 1024) + " KiB, watch bundle files " +
        n(kMaxViewerFileBytes >> 20) + " MiB");
    Log("limit: ranking checked for changes every " + n(kRankingCheckMs) + " ms");
}

std::string RunLengthLimitText() {
    return std::to_string(kMaxRunFrames / kStepsPerHour) + " hours of play";
}

std::string BodyLimitText() {
    return std::to_string(kMaxBodyBytes >> 20) + " MiB";
}

}  // namespace board
