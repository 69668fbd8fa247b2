#include "util/config.h"
#include "util/syslayer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

// A fresh directory per test, removed afterwards.
class ConfigTest : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tn_config_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        unsetenv("LUMBRAKE_ENV_STORE");
        fs::remove_all(dir_);
    }
    std::string write(const std::string& name, const std::string& body) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << body;
        return path;
    }
    std::string dir_;
};

std::string value_of(const config& cfg, const std::string& key) {
    std::string v = "untouched";
    return cfg.get(key, v) ? v : "<" + v + ">";
}

} // namespace

TEST_F(ConfigTest, LinesAreReadWithoutTrimming) {
    std::string path = write("x.conf", "A=1\n"
                                       "  B = 2\n"
                                       "\tC=3\n"
                                       "#D=4\n"
                                       "  #E=5\n"
                                       "\n"
                                       "F\n"
                                       "X=a=b\n"
                                       "Y=\n"
                                       "=empty key\n"
                                       "   \n"
                                       "G=1 # not a comment\n"
                                       "A=last wins\n");
    testing::internal::CaptureStderr();
    config cfg(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, path + "(7): can't find '='\n");
    ASSERT_TRUE(cfg.loaded());

    struct {
        const char* key;
        const char* expected; // "<...>" means get answered false with the value shown
    } cases[] = {
        {"A", "last wins"},
        {"B ", " 2"},
        {"B", "<>"},
        {"\tC", "3"},
        {"C", "<>"},
        {"#D", "<>"},
        {"#E", "<>"},
        {"D", "<>"},
        {"F", "<>"},
        {"X", "a=b"},
        {"Y", ""},
        {"", "empty key"},
        {"G", "1 # not a comment"},
        {"a", "<>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(value_of(cfg, c.key), c.expected) << "key [" << c.key << "]";
    EXPECT_EQ(cfg.values().size(), 7u);
}

TEST_F(ConfigTest, CrLfLinesAndHugeLines) {
    std::string huge(1 << 20, 'v');
    std::string path = write("crlf.conf", "A=1\r\nB=two words\r\n\r\nHUGE=" + huge + "\r\nNOEQ" +
                                              huge + "\r\nC=3");
    testing::internal::CaptureStderr();
    config cfg(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, path + "(5): can't find '='\n");
    EXPECT_EQ(value_of(cfg, "A"), "1");
    EXPECT_EQ(value_of(cfg, "B"), "two words");
    EXPECT_EQ(value_of(cfg, "HUGE"), huge);
    EXPECT_EQ(value_of(cfg, "C"), "3"); // last line without a line end
}

TEST_F(ConfigTest, SiblingsOverrideInSortedOrder) {
    std::string main = write("a.conf", "K=main\nONLY_MAIN=m\nL=main\nM=main\n");
    write("a-local.conf", "K=local\nL=local\n");
    write("A_b.CONF", "K=A_b\n");   // sorts before a-local.conf in byte order
    write("a2.conf", "K=a2\n");     // one character longer: not a sibling
    write("a.conf.bak", "K=bak\n"); // other extension
    write("b-local.conf", "K=b\n"); // other stem
    write("ab.txt", "K=txt\n");
    write("aXYZ.conf", "M=aXYZ\n"); // any name with the stem and extension counts
    config cfg(main.c_str());
    // Sorted: A_b.CONF, a-local.conf, aXYZ.conf.
    EXPECT_EQ(value_of(cfg, "K"), "local");
    EXPECT_EQ(value_of(cfg, "L"), "local");
    EXPECT_EQ(value_of(cfg, "M"), "aXYZ");
    EXPECT_EQ(value_of(cfg, "ONLY_MAIN"), "m");
}

TEST_F(ConfigTest, UnreadableSiblingIsReportedAndSkipped) {
    std::string main = write("a.conf", "K=main\n");
    write("a-z.conf", "K=z\n");
    fs::create_directory(dir_ + "/a-dir.conf");                   // a directory has no lines
    fs::create_symlink(dir_ + "/nowhere", dir_ + "/a-gone.conf"); // cannot be opened
    testing::internal::CaptureStderr();
    config cfg(main.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(cfg.loaded());
    EXPECT_EQ(value_of(cfg, "K"), "z");
    EXPECT_EQ(err, "Cannot open configfile " + dir_ + "/a-dir.conf\n" + "Cannot open configfile " +
                       dir_ + "/a-gone.conf\n");
}

TEST_F(ConfigTest, MissingMainFileLeavesEverythingFalse) {
    write("a-local.conf", "K=local\n");
    std::string main = dir_ + "/a.conf";
    testing::internal::CaptureStderr();
    config cfg(main.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open configfile " + main + "\n");
    EXPECT_FALSE(cfg.loaded());
    std::string v = "untouched";
    EXPECT_FALSE(cfg.get("K", v));
    EXPECT_EQ(v, "untouched"); // not loaded: the value is left alone
}

TEST_F(ConfigTest, MainFileThatIsADirectory) {
    fs::create_directory(dir_ + "/d.conf");
    testing::internal::CaptureStderr();
    config cfg((dir_ + "/d.conf").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot open configfile " + dir_ + "/d.conf\n");
    EXPECT_FALSE(cfg.loaded());
}

TEST_F(ConfigTest, OverlayFillsOnlyAbsentEmptyOrAtValues) {
    std::string main = write("o.conf", "KEEP=main\nEMPTY=\nAT=@from overlay\n");
    write("o.conf.local", "KEEP=overlay\nEMPTY=filled\nAT=overlaid\nNEW=new\n");
    config cfg(main.c_str(), ".local");
    EXPECT_EQ(value_of(cfg, "KEEP"), "main");
    EXPECT_EQ(value_of(cfg, "EMPTY"), "filled");
    EXPECT_EQ(value_of(cfg, "AT"), "overlaid");
    EXPECT_EQ(value_of(cfg, "NEW"), "new");

    // A missing overlay file is no error.
    std::string lone = write("p.conf", "A=1\n");
    testing::internal::CaptureStderr();
    config cfg2(lone.c_str(), ".local");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(value_of(cfg2, "A"), "1");
}

TEST_F(ConfigTest, FileNameComesFromTheEnvironmentStore) {
    std::string main = write("main.conf", "A=from store\n");
    // The process environment never supplies the name.
    setenv("LUMBRAKE_CONFIG_FILE", main.c_str(), 1);

    setenv("LUMBRAKE_ENV_STORE", write("empty-store", "").c_str(), 1);
    testing::internal::CaptureStderr();
    config none;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LUMBRAKE_CONFIG_FILE not defined\n");
    EXPECT_FALSE(none.loaded());
    std::string v = "untouched";
    EXPECT_FALSE(none.get("A", v));
    EXPECT_EQ(v, "untouched");

    setenv("LUMBRAKE_ENV_STORE",
           write("store", "# comment\nLUMBRAKE_CONFIG_FILE=" + main + "\r\n").c_str(), 1);
    config cfg;
    EXPECT_EQ(value_of(cfg, "A"), "from store");
    unsetenv("LUMBRAKE_CONFIG_FILE");
}

TEST_F(ConfigTest, EnvironmentStoreLines) {
    std::string huge(1024, 'h');
    setenv("LUMBRAKE_ENV_STORE",
           write("store", "\n# LUMBRAKE_POSTMORTEM_DEBUG=commented\n"
                          "  LUMBRAKE_POSTMORTEM_DEBUG=\n"
                          "NOEQUALS\n"
                          "QUOTED=\"/etc/x y.conf\"\n"
                          "TWICE=1\nTWICE=2\n"
                          "LONG=" +
                              huge +
                              "\n"
                              "FITS=" +
                              huge.substr(1) + "\n")
               .c_str(),
           1);
    EXPECT_EQ(get_registry_env("LUMBRAKE_POSTMORTEM_DEBUG"), std::optional<std::string>(""));
    EXPECT_EQ(get_registry_env("QUOTED"), std::optional<std::string>("/etc/x y.conf"));
    EXPECT_EQ(get_registry_env("TWICE"), std::optional<std::string>("2"));
    EXPECT_EQ(get_registry_env("NOEQUALS"), std::nullopt);
    EXPECT_EQ(get_registry_env("ABSENT"), std::nullopt);
    EXPECT_EQ(get_registry_env("FITS")->size(), 1023u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_registry_env("LONG"), std::nullopt); // longer than 1023 bytes: absent
    EXPECT_NE(testing::internal::GetCapturedStderr().find("LONG longer than 1023 bytes"),
              std::string::npos);

    setenv("LUMBRAKE_ENV_STORE", (dir_ + "/no-such-store").c_str(), 1);
    EXPECT_EQ(get_registry_env("TWICE"), std::nullopt);
}
