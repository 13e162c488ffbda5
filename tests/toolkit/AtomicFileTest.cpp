// Saves at awkward targets: links, pipes, folders, the longest names, write-protected
// folders, leftovers of killed saves, and a save killed at random moments. Each runs both
// with nameless files and with the named temporaries of filesystems that lack them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AtomicFile.h"
#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "WholeFile.h"

namespace fs = std::filesystem;
using lt::atomic::TNamelessFiles;
using testimg::ReadFile;
using testimg::WriteFile;

namespace {

class AtomicFileTest : public testing::TestWithParam<TNamelessFiles> {
protected:
    void SetUp() override { lt::atomic::SetNamelessFiles(GetParam()); }
    void TearDown() override { lt::atomic::SetNamelessFiles(TNamelessFiles::Allowed); }

    L_INT Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
        return L_WriteFileAtomically(path.c_str(), bytes.data(), bytes.size());
    }

    const std::string dir = testimg::TempDir("atomic");
};

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

// Quick enough for megabytes in a sanitizer build.
std::vector<uint8_t> Slurp(const std::string& path) {
    std::vector<uint8_t> bytes;
    lt::ReadWholeFile(path.c_str(), bytes);
    return bytes;
}

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<uint8_t> kNew = {'n', 'e', 'w', '!'};

} // namespace

TEST_P(AtomicFileTest, ASymbolicLinkStaysALinkAndTheFileItLeadsToIsReplaced) {
    fs::create_directory(dir + "/real");
    WriteFile(dir + "/real/picture.png", kOld);
    // A chain: an absolute link to a relative one into another folder.
    fs::create_symlink("real/picture.png", dir + "/inner");
    fs::create_symlink(dir + "/inner", dir + "/outer");
    ASSERT_EQ(Write(dir + "/outer", kNew), SUCCESS);
    EXPECT_TRUE(fs::is_symlink(dir + "/outer"));
    EXPECT_TRUE(fs::is_symlink(dir + "/inner"));
    EXPECT_EQ(ReadFile(dir + "/real/picture.png"), kNew);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"inner", "outer", "real"}));
    EXPECT_EQ(Names(dir + "/real"), std::set<std::string>{"picture.png"});

    // A dangling link gets its file created where it points.
    fs::create_symlink("real/later.png", dir + "/dangling");
    ASSERT_EQ(Write(dir + "/dangling", kOld), SUCCESS);
    EXPECT_TRUE(fs::is_symlink(dir + "/dangling"));
    EXPECT_EQ(ReadFile(dir + "/real/later.png"), kOld);
}

TEST_P(AtomicFileTest, FoldersPipesAndDevicesAreRefusedBeforeAnythingIsWritten) {
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0644), 0);
    fs::create_directory(dir + "/folder");
    // Never a real device: a broken writer would replace it for everyone on the machine. A
    // node of the null device here is harmless; where nodes cannot be made, a socket stands in.
    const std::string device = dir + "/device-node";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(device.size(), sizeof addr.sun_path);
        std::strcpy(addr.sun_path, device.c_str());
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(s);
    }
    fs::create_symlink("device-node", dir + "/device");
    // Opening the pipe for writing would block; the test would then time out.
    for (const char* name : {"/pipe", "/folder", "/folder/", "/device"}) {
        EXPECT_EQ(Write(dir + name, kNew), ERROR_FILE_WRITE) << name;
        EXPECT_EQ(L_GetLastWriteError(), WRITE_ERROR_NOT_REGULAR) << name;
    }
    EXPECT_STREQ(L_WriteErrorText(WRITE_ERROR_NOT_REGULAR),
                 "The target is not a regular file (a folder, a device or a pipe).");
    EXPECT_TRUE(fs::is_fifo(dir + "/pipe"));
    EXPECT_TRUE(fs::is_empty(dir + "/folder"));
    EXPECT_FALSE(fs::is_regular_file(device));
    EXPECT_EQ(Names(dir), (std::set<std::string>{"device", "device-node", "folder", "pipe"}));
}

TEST_P(AtomicFileTest, TheLongestNameASystemAllowsSavesAndOneMoreIsNamedAsTooLong) {
    const std::string longest = dir + "/" + std::string(NAME_MAX - 4, 'n') + ".png";
    ASSERT_EQ(Write(longest, kOld), SUCCESS);
    ASSERT_EQ(Write(longest, kNew), SUCCESS) << "replacing it needs a temporary beside it";
    EXPECT_EQ(ReadFile(longest), kNew);
    EXPECT_EQ(Names(dir).size(), 1u);

    EXPECT_EQ(Write(dir + "/" + std::string(NAME_MAX + 1, 'n'), kNew), ERROR_FILE_WRITE);
    EXPECT_EQ(L_GetLastWriteError(), ENAMETOOLONG);
    EXPECT_STREQ(L_WriteErrorText(L_GetLastWriteError()), "The file name is too long.");
    EXPECT_EQ(Names(dir).size(), 1u);
}

TEST_P(AtomicFileTest, AWriteProtectedFolderSaysPermissionDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into write-protected folders";
    WriteFile(dir + "/p.png", kOld);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(Write(dir + "/p.png", kNew), ERROR_FILE_WRITE);
    const L_INT cause = L_GetLastWriteError();
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(cause, EACCES);
    EXPECT_STREQ(L_WriteErrorText(cause),
                 "Permission denied: the folder or the file is write-protected.");
    EXPECT_EQ(ReadFile(dir + "/p.png"), kOld);
}

TEST_P(AtomicFileTest, TheNextSaveSweepsOnlyTheLeftoversOfDeadSaves) {
    // A pid that certainly belongs to no process any more.
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    const std::string ofDead = ".~q" + std::to_string(dead) + ".aB3dE9";
    const std::string ofLive = ".~q" + std::to_string(getpid()) + ".Zz0Zz0";
    const std::string ofLiveButOld = ".~q" + std::to_string(getpid()) + ".Old123";
    for (const std::string& name : {ofDead, ofLive, ofLiveButOld, std::string(".~q1.short"),
                                    std::string(".~q.aB3dE9"), "x" + ofDead, ofDead + "x"})
        WriteFile(dir + "/" + name, kOld);
    const timeval old[2] = {{::time(nullptr) - 2 * 86400, 0}, {::time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(::utimes((dir + "/" + ofLiveButOld).c_str(), old), 0);
    // A link of that name is not ours to remove.
    const std::string link = ".~q" + std::to_string(dead) + ".SymLnk";
    fs::create_symlink("p.png", dir + "/" + link);

    ASSERT_EQ(Write(dir + "/p.png", kNew), SUCCESS);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"p.png", ofLive, ".~q1.short", ".~q.aB3dE9",
                                                 "x" + ofDead, ofDead + "x", link}));
}

// A child saves two pictures by turns, and is killed at a random moment of a save (the
// pictures are encoded once, so that the kills fall on the writing, not the encoding). The target
// is always one of the two complete files, and what a killed save left is gone after the next
// save. QUILLO_FULL_KILL_TEST=1 uses photo-sized pictures (4000 x 3000).
TEST_P(AtomicFileTest, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    const bool full = std::getenv("QUILLO_FULL_KILL_TEST") != nullptr;
    const int w = full ? 4000 : 1000, h = full ? 3000 : 750;
    tb::Bmp a(w, h, 24), b(w, h, 24);
    tb::Randomize(a.b, 1);
    tb::Randomize(b.b, 2);
    std::vector<uint8_t> bytes[2];
    for (int i = 0; i < 2; ++i) {
        uint8_t* buf = nullptr;
        size_t size = 0;
        ASSERT_EQ(L_SaveBitmapMemory(&buf, i ? &b.b : &a.b, FILE_BMP, 0, 0, &size), SUCCESS);
        bytes[i].assign(buf, buf + size);
        std::free(buf);
    }
    const std::string target = dir + "/picture.bmp";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Write(target, bytes[0]), SUCCESS);
    const auto oneSave = std::chrono::steady_clock::now() - start;
    const int64_t spanUs =
        std::chrono::duration_cast<std::chrono::microseconds>(oneSave).count() * 3 + 1000;

    std::mt19937 rng(12345);
    int leftovers = 0;
    for (int round = 0; round < 50; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Bounded, so that a child whose parent died does not go on for ever.
            for (int i = 0; i < 10000; ++i) Write(target, bytes[(i + 1) % 2]);
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % spanUs));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        const std::vector<uint8_t> now = Slurp(target);
        ASSERT_TRUE(now == bytes[0] || now == bytes[1]) << "round " << round;
        for (const std::string& name : Names(dir)) {
            if (name == "picture.bmp") continue;
            ASSERT_TRUE(lt::atomic::IsTemporaryName(name)) << name;
            ++leftovers;
            // A nameless file gets a name only once it is complete.
            if (GetParam() == TNamelessFiles::Allowed) {
                const std::vector<uint8_t> left = Slurp(dir + "/" + name);
                EXPECT_TRUE(left == bytes[0] || left == bytes[1]);
            }
        }
        ASSERT_EQ(Write(target, bytes[0]), SUCCESS);
        ASSERT_EQ(Names(dir), std::set<std::string>{"picture.bmp"}) << "round " << round;
    }
    std::printf("%d of 50 kills left a temporary for the next save to sweep\n", leftovers);
}

INSTANTIATE_TEST_SUITE_P(, AtomicFileTest,
                         testing::Values(TNamelessFiles::Allowed, TNamelessFiles::Forbidden),
                         [](const auto& info) {
                             return info.param == TNamelessFiles::Allowed ? "Nameless" : "Named";
                         });
