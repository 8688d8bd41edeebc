// A throwaway PostgreSQL cluster for tests: initdb in a temporary folder, the
// server on a free loopback port with its socket folder inside that folder,
// stopped when the test program ends. The server is a child of the test
// process that the kernel stops should the test die first, so a crash never
// leaves a cluster running. As root, the cluster runs as the "postgres" user.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace zqtest {

class PostgresCluster {
  public:
    // Creates a cluster and starts its server, waiting (bounded) until it
    // answers. Note: construct it on the thread that lives longest (the main
    // one): the server stops when the thread that started it ends.
    PostgresCluster();
    // Stops the server; the folder goes with it.
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Returns true when the server runs and answers.
    bool Ok() const { return pid_ > 0; }
    // Returns why the cluster could not be made or started ("" when it runs).
    const std::string& Error() const { return error_; }
    // Returns the address of a database on this cluster, with user and password.
    std::string Url(const std::string& database) const;
    // Creates a new empty database and returns its address ("" with Error() set on failure).
    std::string CreateDatabase();
    // Stops the server at once, as a crash or a kill would; the data stays.
    void Stop();
    // Starts the server again on the same folder and port; false with Error() set on failure.
    bool Start();
    // Returns the server's port.
    int Port() const { return port_; }
    // Returns the password in every address of this cluster.
    const std::string& Password() const { return password_; }

  private:
    bool Init();

    TempDir dir_;
    std::string binDir_;
    std::string password_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
    int databases_ = 0;
};

// Runs one statement on a database; returns false with the reason in error
// on failure, else true with the first value of its first row (if any) in value.
bool QueryPostgres(const std::string& url, const std::string& sql, std::string& value,
                   std::string& error);

// Returns a cluster shared by every test of the process, started on first use
// and stopped at process exit.
PostgresCluster& SharedPostgres();

// Returns true when PostgreSQL's server programs are installed.
bool HavePostgres();

}  // namespace zqtest

// Ends a test that needs PostgreSQL when it has none: a skip on a developer's
// machine without the server package, a failure under CI. A cluster that is
// installed but does not start always fails the test.
#define ZQ_REQUIRE_POSTGRES(cluster)                                                      \
    do {                                                                                  \
        if (!::zqtest::HavePostgres()) {                                                  \
            if (::zqtest::UnderCI()) GTEST_FAIL() << "PostgreSQL is not installed";       \
            GTEST_SKIP() << "PostgreSQL is not installed (scripts/setup.sh installs it)"; \
        }                                                                                 \
        ASSERT_TRUE((cluster).Ok()) << (cluster).Error();                                 \
    } while (0)
