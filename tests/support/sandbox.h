#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

class ScopedTempDir;

// A fresh temporary folder for each test, removed with everything in it afterwards.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The folder, without a trailing slash.
    const std::string& Dir() const { return m_dir; }
    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

private:
    std::unique_ptr<ScopedTempDir> m_temp;
    std::string m_dir;
};

// Creates and removes a temporary folder; for code outside a fixture.
class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
