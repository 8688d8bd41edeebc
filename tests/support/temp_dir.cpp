// Temporary folders and whole-file helpers for tests.
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zqtest {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zq-test-XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    path_ = made ? made : "";
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Make everything writable again so a test that locked a folder can be cleaned.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

CwdGuard::CwdGuard() : saved_(std::filesystem::current_path().string()) {}

CwdGuard::~CwdGuard() {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

}  // namespace zqtest
