// The reservation of output names on this platform: which spellings name one
// file (and so one reservation), which get none, and that only one holder
// can take one.
#include "platform/platform.h"
#include "platform/reservation_key.h"

#include "temp_dir.h"

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

// The identity key of a name ("<path only>" where its directory does not
// exist), or with path, its path key.
std::string key_of(const std::string& name, bool path = false)
{
    ReservationKeys keys;
    char why[160] = "";
    memset(&keys, 'k', sizeof keys);
    KeysFormed formed = reservation_keys(name.c_str(), &keys, why, sizeof why);
    if (formed == KEYS_UNKNOWN)
        return std::string("<none: ") + why + ">";
    EXPECT_LT(strlen(keys.path), sizeof keys.path);
    if (path)
        return keys.path;
    if (formed == KEYS_PATH_ONLY)
        return "<path only>";
    EXPECT_LT(strlen(keys.identity), sizeof keys.identity);
    return keys.identity;
}

#ifdef _WIN32
const char SEP = '\\';
#else
const char SEP = '/';
#endif

TEST(Reservation, OneKeyForEveryRouteToOneFile)
{
    // <tree>/a/b, and in a, names of 245 characters that differ only in
    // their last one: too long for an object's name, so hashed.
    const std::string tree = temp_dir_make();
    ASSERT_FALSE(tree.empty());
    const std::string a = tree + "a" + SEP, b = a + "b" + SEP;
    const std::string LONG(240, 'n');
#ifdef _WIN32
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(b.c_str(), nullptr));
    // The same directory by its short (8.3) name.
    const std::string spaced = tree + "a long directory name";
    char short_name[MAX_PATH];
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), nullptr));
    ASSERT_GT(GetShortPathNameA(spaced.c_str(), short_name, sizeof short_name), 0u);
#else
    ASSERT_EQ(mkdir(a.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(b.c_str(), 0700), 0);
    // <tree>/link to a/b; dangling.ts to target.ts; loop.ts to itself.
    ASSERT_EQ(symlink("a/b", (tree + "link").c_str()), 0);
    ASSERT_EQ(symlink("target.ts", (tree + "dangling.ts").c_str()), 0);
    ASSERT_EQ(symlink("loop.ts", (tree + "loop.ts").c_str()), 0);
#endif
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"rec.ts", std::string(".") + SEP + "rec.ts", true},
        {a + "rec.ts", a + "." + SEP + "rec.ts", true},
        {a + "rec.ts", b + ".." + SEP + "rec.ts", true},
        {a + "rec.ts", a + SEP + "rec.ts", true},
        {a + "rec.ts", a + "rec(1).ts", false},
        {a + "rec.ts", a + "rec.tx", false},
        {a + "rec.ts", b + "rec.ts", false},
        {a + LONG + ".ts", a + "." + SEP + LONG + ".ts", true},
        {a + LONG + "a.ts", a + LONG + "b.ts", false},
#ifdef _WIN32
        {a + "rec.ts", tree + "A\\REC.TS", true}, // letter case does not matter
        {a + "rec.ts", tree + "a/rec.ts", true},
        {spaced + "\\rec.ts", std::string(short_name) + "\\rec.ts", true},
#else
        {a + "rec.ts", tree + "A/rec.ts", false}, // letter case matters
        {tree + "link/rec.ts", b + "rec.ts", true},
        {tree + "link/../rec.ts", a + "rec.ts", true}, // ".." after a link leads where it points
        {tree + "link/../rec.ts", tree + "rec.ts", false},
        // A name that is a link is never followed: it is a name of its
        // directory (the status query finds it, so no run takes it).
        {tree + "dangling.ts", tree + "target.ts", false},
        {tree + "loop.ts", tree + "loop.ts", true},
        {"/proc/rec.ts", "/sys/rec.ts", false}, // two file systems, one inode number
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        std::string ka = key_of(c.a), kb = key_of(c.b);
        ASSERT_EQ(ka.find("<"), std::string::npos) << ka;
        EXPECT_EQ(ka == kb, c.same) << ka << " / " << kb;
    }
    // A directory that does not exist (yet) has no identity: its names are
    // keyed by their full paths alone, one for every spelling of one path.
    const std::string missing = tree + "missing" + SEP;
    EXPECT_EQ(key_of(missing + "rec.ts"), "<path only>");
    EXPECT_EQ(key_of(missing + "rec.ts", true), key_of(missing + "." + SEP + SEP + "rec.ts", true));
    EXPECT_EQ(key_of(missing + "rec.ts", true), key_of(missing + "x" + SEP + ".." + SEP + "rec.ts", true));
    EXPECT_NE(key_of(missing + "rec.ts", true), key_of(missing + "rec(1).ts", true));
    EXPECT_NE(key_of(missing + "rec.ts", true), key_of(a + "rec.ts", true));
    // A long name's key is its hash; a short one's holds the name.
    EXPECT_EQ(key_of(a + LONG + "a.ts").rfind("quellatorbin#", 0), 0u);
    std::string key = key_of(a + "rec.ts");
    EXPECT_TRUE(key.find("/rec.ts") != std::string::npos || key.find("/REC.TS") != std::string::npos) << key;
#ifdef _WIN32
    EXPECT_TRUE(RemoveDirectoryA(spaced.c_str()));
#else
    for (const char* made : {"link", "dangling.ts", "loop.ts"})
        EXPECT_EQ(unlink((tree + made).c_str()), 0) << made;
#endif
    temp_remove_dir(b);
    temp_remove_dir(a);
    temp_remove_dir(tree);
}

Reservation reserve(const std::string& name)
{
    char why[160];
    return platform_os.reserve_name(name.c_str(), why, sizeof why);
}

TEST(Reservation, OnlyOneHolder)
{
    std::string name = "qb-unit-reservation-" + std::to_string((unsigned long)time(nullptr)) + ".ts";
    ASSERT_EQ(reserve(name), RESERVED);
    // Another holder, under another spelling of the same name.
    EXPECT_EQ(reserve("./" + name), RESERVATION_TAKEN);
    // A name that differs in its last character is another one: this run
    // takes it (and lets the first go).
    std::string other = name.substr(0, name.size() - 1) + "x";
    EXPECT_EQ(reserve(other), RESERVED);
    EXPECT_EQ(reserve(name), RESERVED);
    platform_os.release_name();
    EXPECT_EQ(reserve(name), RESERVED);
    platform_os.release_name();
    // In a directory that does not exist yet, by its full path.
    std::string missing = "qb-unit-missing-" + std::to_string((unsigned long)time(nullptr)) + "/x.ts";
    ASSERT_EQ(reserve(missing), RESERVED);
    char why[160];
    ReservationKeys keys;
    ASSERT_EQ(reservation_keys(missing.c_str(), &keys, why, sizeof why), KEYS_PATH_ONLY);
    EXPECT_EQ(reserve("./" + missing), RESERVATION_TAKEN);
    platform_os.release_name();
}

} // namespace
