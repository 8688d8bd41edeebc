// A throwaway PostgreSQL cluster for tests; see postgres_cluster.h.
#include "tests/support/postgres_cluster.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "tests/support/wait.h"

namespace zqtest {

namespace {

constexpr int kInitTimeoutMs = 120000;
constexpr int kStartTimeoutMs = 60000;
constexpr int kStopTimeoutMs = 30000;
// Starts tried on fresh ports when another program took the port first.
constexpr int kStartTries = 5;
// The cluster's superuser.
constexpr const char* kUser = "zq";

// Returns the highest installed server version's program folder ("" when none).
std::string FindBinDir() {
    std::error_code ec;
    std::string best;
    int bestVersion = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string version = entry.path().filename().string();
        if (version.empty() || version.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::filesystem::path bin = entry.path() / "bin";
        if (::access((bin / "initdb").c_str(), X_OK) != 0 ||
            ::access((bin / "postgres").c_str(), X_OK) != 0) {
            continue;
        }
        if (std::stoi(version) > bestVersion) {
            bestVersion = std::stoi(version);
            best = bin.string();
        }
    }
    return best;
}

// The account the cluster runs as: this process's own, or "postgres" for root
// (the server refuses to run as root).
struct Account {
    bool drop = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

Account ClusterAccount() {
    Account account;
    if (::geteuid() != 0) return account;
    if (const passwd* pw = ::getpwnam("postgres")) {
        account.drop = true;
        account.uid = pw->pw_uid;
        account.gid = pw->pw_gid;
    }
    return account;
}

// Returns a port on 127.0.0.1 that was free a moment ago (0 on failure).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

// Returns 16 random bytes as hex ("" on failure).
std::string RandomPassword() {
    unsigned char bytes[16];
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    const bool ok = ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
    ::close(fd);
    if (!ok) return "";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Starts a program as the cluster's account with its output in logPath; it
// is sent SIGQUIT (PostgreSQL's immediate shutdown) when this thread ends.
pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath) {
    const Account account = ClusterAccount();
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // Child: only async-signal-safe calls from here to exec.
    if (account.drop) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 ||
            ::setuid(account.uid) != 0) {
            _exit(126);
        }
    }
    // Set after the change of user, which clears it.
    ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
    if (::getppid() != parent) _exit(125);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || null < 0) _exit(124);
    ::dup2(null, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    ::execv(argv[0], argv.data());
    _exit(127);
}

// Returns the last lines of a log, for an error message.
std::string LogTail(const std::string& path) {
    std::string text = ReadWholeFile(path);
    if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
    return text;
}

}  // namespace

bool HavePostgres() {
    return !FindBinDir().empty();
}

PostgresCluster::PostgresCluster() : binDir_(FindBinDir()), password_(RandomPassword()) {
    if (binDir_.empty()) {
        error_ = "no PostgreSQL server programs in /usr/lib/postgresql/*/bin";
        return;
    }
    if (dir_.path().empty() || password_.empty()) {
        error_ = "no temporary folder or random bytes for the cluster";
        return;
    }
    if (!Init()) return;
    for (int tries = 0; tries < kStartTries && !Ok(); ++tries) {
        port_ = FreePort();
        if (port_ == 0) continue;
        Start();
    }
}

PostgresCluster::~PostgresCluster() {
    if (pid_ <= 0) return;
    // A fast shutdown: clients are told, nothing waits for them.
    ::kill(pid_, SIGINT);
    if (!WaitForChild(pid_, kStopTimeoutMs)) Stop();
    pid_ = -1;
}

bool PostgresCluster::Init() {
    const Account account = ClusterAccount();
    if (account.drop && ::chown(dir_.path().c_str(), account.uid, account.gid) != 0) {
        error_ = "cannot hand " + dir_.path() + " to the postgres user";
        return false;
    }
    const std::string pwfile = dir_ / "password";
    if (!WriteWholeFile(pwfile, password_ + "\n") || ::chmod(pwfile.c_str(), 0600) != 0 ||
        (account.drop && ::chown(pwfile.c_str(), account.uid, account.gid) != 0)) {
        error_ = "cannot write the cluster's password file";
        return false;
    }
    const std::string log = dir_ / "initdb.log";
    const pid_t pid = Spawn(
        {binDir_ + "/initdb", "--pgdata=" + (dir_ / "data"), std::string("--username=") + kUser,
         "--pwfile=" + pwfile, "--auth-local=trust", "--auth-host=scram-sha-256", "--encoding=UTF8",
         "--locale=C", "--no-sync", "--no-instructions"},
        log);
    const auto status = pid > 0 ? WaitForChild(pid, kInitTimeoutMs) : std::nullopt;
    if (pid > 0 && !status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove(pwfile, ec);
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        error_ = "initdb failed: " + LogTail(log);
        return false;
    }
    const std::string sockets = dir_ / "sockets";
    if (::mkdir(sockets.c_str(), 0700) != 0 ||
        (account.drop && ::chown(sockets.c_str(), account.uid, account.gid) != 0)) {
        error_ = "cannot make the socket folder " + sockets;
        return false;
    }
    return true;
}

bool PostgresCluster::Start() {
    if (Ok()) return true;
    const std::string log = dir_ / "postgres.log";
    // Nothing is flushed to disk, but every commit is written before it is
    // answered, so committed work survives a stop of the server (not of the machine).
    const pid_t pid =
        Spawn({binDir_ + "/postgres", "-D", dir_ / "data", "-p", std::to_string(port_), "-k",
               dir_ / "sockets", "-c", "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c",
               "full_page_writes=off", "-c", "shared_buffers=16MB", "-c", "max_connections=100",
               "-c", "logging_collector=off"},
              log);
    if (pid <= 0) {
        error_ = "cannot start postgres";
        return false;
    }
    const std::string url = Url("postgres");
    bool ended = false;
    const bool answered = WaitFor(
        [&] {
            ended = !!WaitForChild(pid, 0);
            return ended || PQping(url.c_str()) == PQPING_OK;
        },
        kStartTimeoutMs);
    if (ended) {
        error_ = "postgres ended at start: " + LogTail(log);
        return false;
    }
    if (answered) {
        pid_ = pid;
        error_.clear();
        return true;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    error_ = "postgres did not answer in time: " + LogTail(log);
    return false;
}

void PostgresCluster::Stop() {
    if (pid_ <= 0) return;
    // SIGQUIT is the immediate shutdown: connections are cut, nothing is saved.
    ::kill(pid_, SIGQUIT);
    if (!WaitForChild(pid_, kStopTimeoutMs)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string PostgresCluster::Url(const std::string& database) const {
    return std::string("postgresql://") + kUser + ":" + password_ +
           "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresCluster::CreateDatabase() {
    if (!Ok()) return "";
    const std::string name = "board_" + std::to_string(++databases_);
    std::string unused;
    if (!QueryPostgres(Url("postgres"), "CREATE DATABASE " + name, unused, error_)) return "";
    return Url(name);
}

bool QueryPostgres(const std::string& url, const std::string& sql, std::string& value,
                   std::string& error) {
    value.clear();
    error.clear();
    PGconn* conn = PQconnectdb(url.c_str());
    if (PQstatus(conn) == CONNECTION_OK) {
        PGresult* res = PQexec(conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_TUPLES_OK && PQntuples(res) > 0 && PQnfields(res) > 0) {
            value = PQgetvalue(res, 0, 0);
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            error = PQresultErrorMessage(res);
        }
        PQclear(res);
    } else {
        error = PQerrorMessage(conn);
    }
    PQfinish(conn);
    return error.empty();
}

PostgresCluster& SharedPostgres() {
    // Intentionally a function-local static: stopped by the exit handlers.
    static PostgresCluster cluster;
    return cluster;
}

}  // namespace zqtest
