// Runs the real board server for tests: started on a free loopback port in a
// temporary data folder, stopped by itself at the end, with a small HTTP
// client on plain sockets that sends requests exactly as written (paths are
// never normalised, so hostile ones reach the server as they are).
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace zqtest {

// A parsed HTTP response; status 0 when the connection failed or closed early.
struct HttpReply {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::string body;

    // Returns a header's value ("" when absent); name in lower case.
    std::string Header(const std::string& name) const;
};

// Sends raw bytes to 127.0.0.1:port and reads the reply until the server
// closes (send "Connection: close"); bounded by timeoutMs.
HttpReply SendRaw(int port, const std::string& bytes, int timeoutMs = 10000);
// Sends one request with Connection: close and the body's length.
HttpReply SendHttp(int port, const std::string& method, const std::string& target,
                   const std::vector<std::string>& headerLines = {}, const std::string& body = "");

class BoardServer {
  public:
    // Prepares a server on the data folder dataDir.
    explicit BoardServer(std::string dataDir);
    // Kills the server if it still runs.
    ~BoardServer();
    BoardServer(const BoardServer&) = delete;
    BoardServer& operator=(const BoardServer&) = delete;

    // Makes later starts use this --database address ("" for SQLite in the data folder).
    void UseDatabase(std::string url) { databaseUrl_ = std::move(url); }
    // Starts the server (with extra options, if any) and waits (bounded) until it
    // listens; false when it did not.
    bool Start(int workers = 1, const std::vector<std::string>& extraOptions = {});
    // Returns the server's process id (-1 when it does not run).
    pid_t Pid() const { return pid_; }
    // Returns the port it listens on.
    int Port() const { return port_; }
    // Ends the server at once (SIGKILL) and waits for it.
    void Kill();
    // Asks the server to stop (SIGTERM); returns its exit status, -1 on timeout.
    int Stop(int timeoutMs = 30000);
    // Returns what the server has logged since its last start.
    std::string Log() const;
    // Returns what every start of the server has logged.
    std::string FullLog() const;

    // Runs an operator's command (zarquill-board ARGS...) on this server's data
    // folder and database, to its end (bounded); returns its exit status (-1
    // when it did not end normally), what it wrote to standard error in log
    // and to standard output in output.
    int RunCommand(const std::vector<std::string>& args, std::string* log = nullptr,
                   std::string* output = nullptr) const;

    // Posts a replay with a token; returns the reply.
    HttpReply Submit(const std::string& replayBytes, const std::string& token) const;
    // Polls a run until it is no longer pending (bounded); returns its last reply.
    HttpReply WaitForVerdict(long long id, int timeoutMs = 60000) const;

  private:
    std::string dataDir_;
    std::string databaseUrl_;
    std::string logPath_;
    size_t logStart_ = 0;  // where this start's lines begin in the log
    pid_t pid_ = -1;
    int port_ = 0;
};

// Returns the bytes of a checked-in replay (tests/data/replays/NAME.zqr).
std::string GoldenReplayBytes(const std::string& name);
// Returns the path of the built zarquill-board.
std::string BoardExecutable();
// Returns a well-formed token made of one repeated character.
std::string TokenOf(char c);

}  // namespace zqtest
