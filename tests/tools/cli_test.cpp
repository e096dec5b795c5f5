// ostrel-azure's command line, document sources and output formats.
#include "tools/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <jansson.h>
#include <unistd.h>

namespace
{

ostrel_cli::request parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "ostrel-azure");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    return ostrel_cli::parse_arguments((int)argv.size(), argv.data());
}

TEST(Arguments, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"stat"},
        {"stat", "/a", "/b"},
        {"--nope", "stat", "/x"},
        {"--config"},
        {"--update-interval", "-1", "ls"},
        {"--update-interval", "soon", "ls"},
        {"--creds", "a.json", "--token-command", "echo", "check"},
        {"mkdir", "--json", "/x"},
        {"cksum", "--offset", "-1", "/x"},
        {"cksum", "--length", "-2", "/x"},
        {"cksum", "--offset", "12k", "/x"},
        {"check", "extra"},
        {"ls", "-x"},
        {"rm", "-l", "/x"},
    };
    for (const auto &args : bad) {
        std::string joined;
        for (const std::string &a : args)
            joined += a + " ";
        EXPECT_THROW(parse(args), ostrel_cli::usage_error) << joined;
    }
}

TEST(Arguments, GlobalAndCommandOptions)
{
    ostrel_cli::request req =
        parse({"--config=/c.json", "--creds", "/t.json", "--debug", "ERROR", "--update-interval",
               "5", "ls", "-l", "--json", "photos/2024"});
    EXPECT_EQ(req.config_file, "/c.json");
    EXPECT_EQ(req.creds_file, "/t.json");
    EXPECT_EQ(req.debug, "ERROR");
    EXPECT_EQ(req.update_interval, 5);
    EXPECT_EQ(req.command, "ls");
    EXPECT_TRUE(req.long_format);
    EXPECT_TRUE(req.json);
    EXPECT_EQ(req.path, "/photos/2024");

    req = parse(
        {"--token-command", "get-token --user x", "cksum", "--offset", "5", "--length=10", "/c/b"});
    EXPECT_EQ(req.token_command, "get-token --user x");
    EXPECT_EQ(req.cksm_offset, 5);
    EXPECT_EQ(req.cksm_length, 10);
    EXPECT_FALSE(req.update_interval.has_value());

    req = parse({"cksum", "/c/b"});
    EXPECT_EQ(req.cksm_offset, 0);
    EXPECT_EQ(req.cksm_length, -1);

    EXPECT_EQ(parse({"ls"}).path, "/");
    EXPECT_EQ(parse({"rm", "--", "-odd"}).path, "/-odd");
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"help"}).help);
    EXPECT_TRUE(parse({"--json", "check"}).json);
}

TEST(Output, ModeStrings)
{
    EXPECT_EQ(ostrel_cli::mode_string(040700), "drwx------");
    EXPECT_EQ(ostrel_cli::mode_string(0100700), "-rwx------");
    EXPECT_EQ(ostrel_cli::mode_string(0100644), "-rw-r--r--");
    EXPECT_EQ(ostrel_cli::mode_string(0120777), "lrwxrwxrwx");
    EXPECT_EQ(ostrel_cli::mode_string(0), "?---------");
}

struct utc_fixture : ::testing::Test {
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

ostrel_gfs_stat_t blob_entry()
{
    ostrel_gfs_stat_t e = {};
    e.mode = 0100700;
    e.nlink = 1;
    e.size = 1234;
    e.atime = e.ctime = -1;
    e.mtime = 1700000000; // 2023-11-14 22:13:20 UTC
    e.dev = 5;
    e.ino = 6;
    return e;
}

TEST_F(utc_fixture, LongLines)
{
    EXPECT_EQ(ostrel_cli::time_text(0), "1970-01-01 00:00");
    EXPECT_EQ(ostrel_cli::time_text(-1), "-");
    ostrel_gfs_stat_t e = blob_entry();
    EXPECT_EQ(ostrel_cli::long_line(e, "f.txt"),
              "-rwx------   1     0     0         1234 2023-11-14 22:13 f.txt");
    e.mode = 040700;
    e.size = 0;
    e.mtime = -1;
    EXPECT_EQ(ostrel_cli::long_line(e, "dir"),
              "drwx------   1     0     0            0                - dir");
}

TEST(Output, JsonLines)
{
    ostrel_gfs_stat_t e = blob_entry();
    EXPECT_EQ(ostrel_cli::json_line(e, "f.txt"),
              "{\"name\":\"f.txt\",\"mode\":33216,\"nlink\":1,\"uid\":0,\"gid\":0,\"size\":1234,"
              "\"atime\":-1,\"ctime\":-1,\"mtime\":1700000000,\"dev\":5,\"ino\":6}");

    // names with quotes, backslashes and non-ASCII text survive a round trip
    const char *odd = "a \"b\"\\c \xC3\xA9.txt";
    std::string line = ostrel_cli::json_line(e, odd);
    json_error_t error;
    json_t *obj = json_loads(line.c_str(), 0, &error);
    ASSERT_NE(obj, nullptr) << line;
    EXPECT_STREQ(json_string_value(json_object_get(obj, "name")), odd);
    json_decref(obj);

    // a name that is not UTF-8 still gives valid JSON
    obj = json_loads(ostrel_cli::json_line(e, "bad\xFF").c_str(), 0, &error);
    EXPECT_NE(obj, nullptr);
    json_decref(obj);
}

TEST(Output, ErrorTextIndentsCauses)
{
    ostrel_host::error_info info;
    info.ok = false;
    info.reply_code = 550;
    info.text = "550 PATH_NOT_FOUND: GridFTP-Path: \"/c/x\"\nAzure Error accessing \"c/x\"";
    EXPECT_EQ(ostrel_cli::error_text("stat /c/x", info),
              "ostrel-azure: stat /c/x: 550 PATH_NOT_FOUND: GridFTP-Path: \"/c/x\"\n"
              "  Azure Error accessing \"c/x\"\n");
    info.text = "one line";
    EXPECT_EQ(ostrel_cli::error_text("rm /a", info), "ostrel-azure: rm /a: one line\n");
}

struct documents_fixture : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        char path[] = "/tmp/ostrel-cli-docs-XXXXXX";
        ASSERT_NE(mkdtemp(path), nullptr);
        dir = path;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string write(const std::string &name, const std::string &content)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path) << content;
        return path;
    }
};

TEST_F(documents_fixture, CredentialFileIsReadAgainForEveryRequest)
{
    ostrel_cli::request req;
    req.config_file = write("config.json", "{\"account\":\"a\"}");
    req.creds_file = write("creds.json", "first");
    ostrel_cli::documents docs(req);
    EXPECT_EQ(docs.get("config"), std::optional<std::string>("{\"account\":\"a\"}"));
    EXPECT_EQ(docs.get("creds"), std::optional<std::string>("first"));
    write("creds.json", "renewed");
    EXPECT_EQ(docs.get("renew-creds"), std::optional<std::string>("renewed"));
    EXPECT_EQ(docs.last_credential(), std::optional<std::string>("renewed"));
    EXPECT_EQ(docs.get("other"), std::nullopt);
}

TEST_F(documents_fixture, TokenCommandOutputAndFailures)
{
    ostrel_cli::request req;
    req.token_command = "printf '{\"sub\":\"%s\"}' \"$USER-x\"";
    ostrel_cli::documents docs(req);
    std::optional<std::string> text = docs.get("creds");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("{\"sub\":\"", 0), 0u) << *text;

    try {
        ostrel_cli::run_command("echo secret-token-text; exit 3");
        FAIL() << "failing command accepted";
    } catch (const std::runtime_error &e) {
        std::string what = e.what();
        EXPECT_NE(what.find("status 3"), std::string::npos) << what;
        EXPECT_EQ(what.find("secret-token-text"), std::string::npos) << what;
    }
    EXPECT_THROW(ostrel_cli::run_command("true"), std::runtime_error);
}

} // namespace
