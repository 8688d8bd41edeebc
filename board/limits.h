// Every limit of the board server in one place: body and replay sizes, rates,
// timeouts, queue and worker bounds. The server logs them once at start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace board {

// The largest request body accepted (a replay file); larger ones get 413.
inline constexpr size_t kMaxBodyBytes = size_t{1} << 20;
// Request bodies held in memory at once, over all connections; beyond it uploads get 503.
inline constexpr size_t kMaxBufferedBodyBytes = size_t{64} << 20;
// Bytes still read (and dropped) from a connection closed after an answer
// (a body over the cap, a refused head) before it is cut.
inline constexpr size_t kMaxDiscardBytes = 4 * kMaxBodyBytes;
// Seconds a client is asked to wait (Retry-After) when the queue is full or
// the database is away, and when the uploads in memory are at their limit.
inline constexpr int kBusyRetrySeconds = 30;
inline constexpr int kUploadsBusyRetrySeconds = 5;
// Game steps in an hour of play (60 a second), and the longest run ranked: two hours.
inline constexpr uint32_t kStepsPerHour = 60u * 60u * 60u;
inline constexpr uint32_t kMaxRunFrames = 2u * kStepsPerHour;
// The longest program version a replay may name (printable ASCII only).
inline constexpr size_t kMaxProgramVersionChars = 32;
// The earliest date a run may carry (the game did not exist before), and how
// far ahead of the server's clock (UTC) a player's local date may run.
inline constexpr int kEarliestRunYear = 2026;
inline constexpr int kEarliestRunMonth = 12;
inline constexpr int kEarliestRunDay = 1;
inline constexpr int kMaxRunDateAheadHours = 24;
// The most a verification child may write as its verdict, in bytes. A
// verified run's verdict carries the first check values of its game under
// each other rules version: 52 KB for the longest run ranked (board/verify.cpp
// checks at build time that they fit).
inline constexpr size_t kMaxVerdictBytes = 64 * 1024;
// How long a child killed with SIGKILL is waited for before a thread of its own reaps it.
inline constexpr int kKillWaitMs = 5000;
// Processor seconds one verification may use before it is rejected.
inline constexpr int kVerifyCpuSeconds = 60;
// Wall-clock seconds one verification may take (a child that sleeps or hangs).
inline constexpr int kVerifyWallSeconds = 120;
// Niceness a verification child adds to its own, so that re-simulation (run
// as a batch job) yields the processor to the threads answering requests.
inline constexpr int kVerifyNice = 10;
// Address space of a verification child, in bytes.
inline constexpr uint64_t kVerifyAddressSpaceBytes = uint64_t{1} << 30;
// How long a worker's claim on a pending run lasts, and how often the worker
// renews it while the run's verification goes on. A server that dies leaves
// its runs to the others once the lease runs out; the lease spans several
// renewals so that a slow database or a busy machine does not lose a claim.
inline constexpr int64_t kClaimLeaseMs = 15 * 1000;
inline constexpr int kClaimRenewMs = 3 * 1000;
// Verification attempts of one run before it is rejected as unverifiable.
inline constexpr int kMaxVerifyAttempts = 3;
// Pending runs beyond which new submissions are refused with 503.
inline constexpr int64_t kMaxPendingRuns = 10000;
// How often an idle worker looks for pending runs it was not told about.
inline constexpr int kWorkerPollMs = 1000;
// The most verification workers.
inline constexpr int kMaxWorkers = 64;

// Submissions one address may send in a burst, and the rate they refill at.
inline constexpr double kSubmitBurst = 30;
inline constexpr double kSubmitsPerSecond = 1;
// Addresses the rate limiter tracks at most; full buckets are dropped first.
inline constexpr size_t kMaxTrackedAddresses = 10000;

// Connections served at once, per address, and the idle time before one is closed.
inline constexpr unsigned kMaxConnections = 1000;
inline constexpr unsigned kMaxConnectionsPerAddress = 250;
inline constexpr unsigned kConnectionTimeoutSeconds = 15;
// Seconds a request's head (request line and headers) may take from its first
// byte, however steadily its bytes come (--head-timeout changes it, up to the most).
inline constexpr unsigned kHeadTimeoutSeconds = 5;
inline constexpr unsigned kMaxHeadTimeoutSeconds = 60;
// The largest request head (request line and headers), in bytes; larger ones get 431.
inline constexpr size_t kMaxHeadBytes = 16 * 1024;
// Seconds a connection closed after an answer (a refused head, a body over the
// cap) is still read from and what comes dropped, so that the client reads the
// answer rather than a reset; at most kMaxDiscardBytes are read.
inline constexpr unsigned kCloseDrainSeconds = 2;
// Threads answering HTTP requests.
inline constexpr unsigned kHttpThreads = 4;
// PostgreSQL: reads of runs (and of players' pages) that arrive together share
// one statement, of at most this many, and at most kCoalescingStatements such
// statements of each kind run at once.
inline constexpr size_t kCoalescedReads = 32;
inline constexpr size_t kCoalescingStatements = 2;
// Threads handling requests that write (runs sent), apart from the reads.
inline constexpr unsigned kHttpWritingThreads = 2;
// Threads handling reads of a remote database (PostgreSQL), apart from the
// answers made from memory: enough to keep its statements coming while each
// waits for its round trip.
inline constexpr unsigned kHttpReadingThreads = 16;
// Seconds the server waits for requests in flight when asked to stop.
inline constexpr int kShutdownGraceSeconds = 10;

// The most entries one board or player page returns, and the default.
inline constexpr int kMaxPageLimit = 100;
inline constexpr int kDefaultPageLimit = 50;
// The largest offset into a board accepted.
inline constexpr int64_t kMaxPageOffset = 1000000;

// How often a server asks the database whether the ranking changed (verdicts
// stored by other servers, an operator's moderation), in milliseconds. A
// verdict or moderation of this server shows on its boards at once.
inline constexpr int kRankingCheckMs = 1000;
// Memory blocks from this size up are mapped on their own and given back
// to the system when freed (the ranking's boards), in bytes.
inline constexpr int kMallocMmapThresholdBytes = 1 << 20;
// A run is a copy of an earlier run of the same difficulty when their check
// values agree from the first for at least this share (in percent) of the
// new run's values, rounded up.
inline constexpr int kCopyAgreementPercent = 90;
// Earlier runs whose first check values hash alike that one submission
// compares at most (oldest first), so that a lookup stays cheap however many
// runs share an idle start.
inline constexpr int kMaxCopyCandidates = 500;

// PostgreSQL connections one server keeps at most, the seconds it waits for a
// new one, and the longest a statement may run before the database cancels it.
inline constexpr int kDatabaseConnections = 8;
inline constexpr int kDatabaseConnectTimeoutSeconds = 5;
inline constexpr int kDatabaseStatementTimeoutMs = 30 * 1000;

// SQLite connections one server opens for reading at most (besides its one
// writer): enough for every HTTP thread, the workers' verdicts and the
// ranking's watcher to read at once.
inline constexpr int kSqliteReaders = 6;
// Milliseconds SQLite waits on a busy database before failing.
inline constexpr int kSqliteBusyTimeoutMs = 5000;

// The largest page file read (the page's files are a few kilobytes each), and
// the largest file of the watch bundle (the viewer's program and its data).
inline constexpr size_t kMaxWebFileBytes = 256 * 1024;
inline constexpr size_t kMaxViewerFileBytes = size_t{32} << 20;

// The longest reason an operator gives for hiding a run, in UTF-8 bytes.
inline constexpr size_t kMaxHideReasonBytes = 200;

// How long a backup waits for a busy database before it gives up.
inline constexpr int kBackupBusyWaitMs = 30 * 1000;

// The largest file --database-file reads the database address from.
inline constexpr size_t kMaxDatabaseFileBytes = 4096;

// Writes every limit to the log, one line each.
void LogLimits();
// Returns the longest run ranked as text ("2 hours of play").
std::string RunLengthLimitText();
// Returns the largest request body as text ("1 MiB").
std::string BodyLimitText();

}  // namespace board
