#include "support/sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

ScopedTempDir::ScopedTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pandrel-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ignored;
    // Tests make files read-only on purpose; give write access back so removal succeeds.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_path, ignored);
}

void SandboxTest::SetUp() {
    m_temp = std::make_unique<ScopedTempDir>();
    m_dir = m_temp->Path();
}

void SandboxTest::TearDown() {
    m_temp.reset();
}
