// Scratch folders, whole files as text, environment variables and the scripted hosts of a
// test's scope.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CommonDialogs.h"
#include "MessageBox.h"

namespace support {

// The scratch folder ctest gives the test program, or one under the system's temporary folder.
inline std::string ScratchRoot() {
    const char* env = std::getenv("QUILLO_TEST_TMP");
    return env && *env ? env : std::filesystem::temp_directory_path().string() + "/quillo-tests";
}

// An empty folder named after the running test.
inline std::string FreshTestDir(const std::string& prefix) {
    const std::string dir = ScratchRoot() + "/" + prefix + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Writes the file, making its folder first.
inline void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Sets environment variables (none: unset) and restores them all, newest first, when it goes.
class TScopedEnv {
public:
    TScopedEnv() = default;
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;
    ~TScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Apply(it->first, it->second);
    }
    void Set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Apply(name, value);
    }

private:
    static void Apply(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Routes message boxes (and file dialogs) to a scripted host while it lives.
class TUseMessageBoxes {
public:
    explicit TUseMessageBoxes(IMessageBoxHost& host) : old_(SetMessageBoxHost(&host)) {}
    ~TUseMessageBoxes() { SetMessageBoxHost(old_); }
    TUseMessageBoxes(const TUseMessageBoxes&) = delete;
    TUseMessageBoxes& operator=(const TUseMessageBoxes&) = delete;

private:
    IMessageBoxHost* old_;
};

class TUseCommonDialogs {
public:
    explicit TUseCommonDialogs(ICommonDialogs& dialogs) : old_(SetCommonDialogs(&dialogs)) {}
    ~TUseCommonDialogs() { SetCommonDialogs(old_); }
    TUseCommonDialogs(const TUseCommonDialogs&) = delete;
    TUseCommonDialogs& operator=(const TUseCommonDialogs&) = delete;

private:
    ICommonDialogs* old_;
};

} // namespace support
