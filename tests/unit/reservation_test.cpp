// The reservation of output names on this platform: which spellings name one
// file (and so one reservation), and that only one holder can take it.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <time.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string key_of(const std::string& name)
{
    char key[RESERVATION_KEY_CAP];
    if (!platform_reservation_key(name.c_str(), key, sizeof key))
        return "<none>";
    EXPECT_LT(strlen(key), sizeof key);
    return key;
}

TEST(Reservation, OneKeyForEverySpellingOfOneFile)
{
    const std::string LONG(300, 'a');
#ifdef _WIN32
    // <temp>\qb-unit long directory name, and the same directory by its short
    // (8.3) name, as a junction or a substituted drive would be another route.
    char temp[MAX_PATH], short_name[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string dir = std::string(temp) + "qb-unit long directory name";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_GT(GetShortPathNameA(dir.c_str(), short_name, sizeof short_name), 0u);
    const std::string other = short_name;
#else
    // <tree>/a/b, and <tree>/link pointing there.
    char made[] = "/tmp/qb-unit-reservation-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const std::string tree = made;
    ASSERT_EQ(mkdir((tree + "/a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((tree + "/a/b").c_str(), 0700), 0);
    ASSERT_EQ(symlink("a/b", (tree + "/link").c_str()), 0);
#endif
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"rec.ts", "./rec.ts", true},
        {"rec.ts", "x/../rec.ts", true},
        {"rec.ts", "x/./y/../../rec.ts", true},
        {"d/rec.ts", "d//rec.ts", true},
        {"rec.ts", "rec(1).ts", false},
        {"rec.ts", "d/rec.ts", false},
        // Paths too long for the object's name are hashed, still one a file.
        {LONG + ".ts", "./" + LONG + ".ts", true},
        {LONG + ".ts", LONG + "b.ts", false},
#ifdef _WIN32
        {"C:\\tv\\rec.ts", "C:\\tv\\x\\..\\rec.ts", true},
        {"D:\\TV\\rec.ts", "d:\\tv\\REC.TS", true}, // letter case does not matter
        {"D:\\TV\\rec.ts", "D:/TV/rec.ts", true},
        {"D:\\TV\\rec.ts", "E:\\TV\\rec.ts", false},
        // An existing directory as the system finds it: runs naming it by two
        // routes got two keys, and so both the same free name.
        {dir + "\\rec.ts", other + "\\rec.ts", true},
#else
        {"/srv/tv/rec.ts", "/srv/tv/x/../rec.ts", true},
        {"/srv/tv/rec.ts", "/srv/../srv/tv/rec.ts", true},
        {"/srv/tv/rec.ts", "/srv/tv/REC.TS", false}, // letter case matters
        {"/rec.ts", "/../rec.ts", true},
        // An existing directory as the kernel finds it. Two runs writing into
        // one directory, one through a link to it, got two keys, and so both
        // the same free name; ".." after a link leads where the link points.
        {tree + "/link/rec.ts", tree + "/a/b/rec.ts", true},
        {tree + "/link/../rec.ts", tree + "/a/rec.ts", true},
        {tree + "/link/../rec.ts", tree + "/rec.ts", false},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        std::string a = key_of(c.a), b = key_of(c.b);
        ASSERT_NE(a, "<none>");
        EXPECT_EQ(a == b, c.same) << a << " / " << b;
    }
#ifdef _WIN32
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
#else
    for (const char* made_path : {"/link", "/a/b", "/a", ""})
        EXPECT_EQ(remove((tree + made_path).c_str()), 0) << made_path;
#endif
    // A long path's key is its hash; a short one's holds the full path.
    EXPECT_EQ(key_of(LONG + ".ts").rfind("quellatorbin#", 0), 0u);
    std::string key = key_of("rec.ts");
    EXPECT_TRUE(key.find("rec.ts") != std::string::npos || key.find("REC.TS") != std::string::npos) << key;
}

TEST(Reservation, OnlyOneHolder)
{
    std::string name = "qb-unit-reservation-" + std::to_string((unsigned long)time(nullptr)) + ".ts";
    ASSERT_EQ(platform_reserve_name(name.c_str()), RESERVED);
    // Another holder, under another spelling of the same name.
    EXPECT_EQ(platform_reserve_name(("./" + name).c_str()), RESERVATION_TAKEN);
    platform_release_name();
    EXPECT_EQ(platform_reserve_name(name.c_str()), RESERVED);
    platform_release_name();
}

} // namespace
