// ostrel-azure's pure parts: command line, configuration location, token
// documents, document input limits, names on a terminal, check's verdicts.
#include "connector/token_time.h"
#include "tools/cli.h"
#include "tools/credential_parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace
{

using namespace ostrel_cli;

// Arguments separated by single spaces.
request parse(const std::string &line)
{
    std::vector<std::string> args = {"ostrel-azure"};
    for (size_t pos = 0; pos < line.size();) {
        size_t space = std::min(line.find(' ', pos), line.size());
        args.push_back(line.substr(pos, space - pos));
        pos = space + 1;
    }
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    return parse_arguments((int)argv.size(), argv.data());
}

TEST(Arguments, UsageErrors)
{
    for (const char *line : {"",
                             "frobnicate",
                             "stat",
                             "stat /a /b",
                             "--nope stat /x",
                             "--config",
                             "--update-interval -1 ls",
                             "--update-interval 4294967297 ls",
                             "--token-timeout 0 ls",
                             "--creds a --token-command b check",
                             "mkdir --json /x",
                             "cksum --offset -1 /x",
                             "cksum --length -2 /x",
                             "cksum --offset 12k /x",
                             "check extra",
                             "help nosuch",
                             "--streams 0 ls",
                             "--streams 65 ls",
                             "--block-size 0 ls",
                             "--block-size 65537K ls",
                             "--block-size 1.5M ls",
                             "--block-size -1K ls",
                             "--block-size K ls",
                             "--block-size 99999999999999999G ls",
                             "--quiet --verbose ls",
                             "get /c/x",
                             "get --continue /c/x -",
                             "get --offset 9223372036854775807 --length 1 /c/x f",
                             "get --length -2 /c/x f",
                             "put --size 5 f /c/x",
                             "put --mtime 1 --no-mtime f /c/x",
                             "put --size 5 - /c/",
                             "put --mtime -1 f /c/x",
                             "put --size -1 - /c/x",
                             "batch",
                             "batch a b"})
        EXPECT_THROW(parse(line), usage_error) << line;
}

TEST(Arguments, GlobalAndCommandOptions)
{
    // (options the emulator tests and the fault matrix act on are not read back here)
    request req = parse("--config=/c.json --update-interval 5 cksum --length=10 /c/b");
    EXPECT_EQ(req.config_file, "/c.json");
    EXPECT_EQ(req.update_interval, 5);
    EXPECT_EQ(req.token_timeout, 60);
    EXPECT_EQ(req.length, 10);

    req = parse("--streams 64 --block-size 64M --verbose ls");
    EXPECT_EQ(req.streams, 64);
    EXPECT_EQ(req.block_size, 64u << 20);
    EXPECT_TRUE(req.verbose);
    EXPECT_EQ(parse("--block-size 4k ls").block_size, 4096u);
    EXPECT_EQ(parse("--block-size=1 ls").block_size, 1u);
    EXPECT_EQ(parse("--block-size 65536K ls").block_size, 64u << 20);
    req = parse("put --mtime 0 --size 1K - /c/x");
    EXPECT_EQ(req.mtime, 0);
    EXPECT_EQ(req.size, 1024);
    req = parse("ls");
    EXPECT_EQ(req.streams, 4);
    EXPECT_EQ(req.block_size, 1u << 20);

    // a batch line runs under the run's own options, and may not change them
    request outer = parse("--json --streams 2 batch -");
    req = parse_batch_line(outer, {"stat", "/a b"});
    EXPECT_TRUE(req.json);
    EXPECT_EQ(req.streams, 2);
    EXPECT_EQ(req.path, "/a b");
    for (const std::vector<std::string> &words :
         {std::vector<std::string>{"--streams", "3", "ls"}, {"batch", "x"}, {"ls", "-q"}})
        EXPECT_THROW(parse_batch_line(outer, words), usage_error) << words[0];

    EXPECT_EQ(parse("ls").path, "/");
    EXPECT_EQ(parse("rm -- -odd").path, "/-odd");
}

TEST(Batch, LinesSplitLikeAShell)
{
    struct row {
        std::string line;
        std::vector<std::string> words;
    } rows[] = {
        {"put \"my file.txt\" /c/my\\ file.txt  # comment",
         {"put", "my file.txt", "/c/my file.txt"}},
        {"get 'a \"b\" \\' c", {"get", "a \"b\" \\", "c"}},
        {"a\"b c\"d\te", {"ab cd", "e"}},
        {"\"say \\\"hi\\\" \\\\ \\n\"", {"say \"hi\" \\ \\n"}},
        {"a#b '' \"\"", {"a#b", "", ""}},
        {"rm /c/x\r", {"rm", "/c/x"}},
    };
    for (const row &r : rows) {
        std::vector<std::string> words = {"stale"};
        EXPECT_EQ(split_batch_line(r.line, words), "") << r.line;
        EXPECT_EQ(words, r.words) << r.line;
    }
    std::vector<std::string> words;
    for (const char *bad : {"get 'open", "get \"open\\\"", "trail\\"})
        EXPECT_NE(split_batch_line(bad, words), "") << bad;
}

TEST(Progress, LinesAndSummaries)
{
    struct row {
        uint64_t done;
        int64_t total;
        double seconds;
        std::string text;
    } rows[] = {
        {0, 100, 0, "0 B / 100 B  0.0 MB/s"},
        {1023, -1, 1, "1023 B  0.0 MB/s"},
        {1024, 2048, 0.001024, "1.0 KiB / 2.0 KiB  1.0 MB/s  0:00 left"},
        {1048576, 10485760, 1.048576, "1.0 MiB / 10.0 MiB  1.0 MB/s  0:09 left"},
        {1000000, 3602000000, 1, "976.6 KiB / 3.4 GiB  1.0 MB/s  1:00:01 left"},
        {3 << 20, 3 << 20, 2, "3.0 MiB / 3.0 MiB  1.6 MB/s  0:00 left"},
    };
    for (const row &r : rows)
        EXPECT_EQ(progress_text(r.done, r.total, r.seconds), r.text);
    EXPECT_EQ(summary_text(104857600, 2), "104857600 bytes in 2.00 s, 52.43 MB/s");
    EXPECT_EQ(summary_text(0, 0), "0 bytes in 0.00 s, 0.00 MB/s");
}

// (the option, the variable, XDG and HOME: the program's run in the emulator test)
TEST(Documents, ConfigLocationWithoutAHome)
{
    EXPECT_EQ(config_location("", nullptr, nullptr, "").path, "");
}

struct temp_dir : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        char path[] = "/tmp/ostrel-cli-docs-XXXXXX";
        ASSERT_NE(mkdtemp(path), nullptr);
        dir = path;
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }
    std::string write(const std::string &name, const std::string &content)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

TEST_F(temp_dir, DocumentFilesAreCappedAtTheLimit)
{
    EXPECT_EQ(read_document_file(write("full", std::string(document_limit, 'x'))).size(),
              document_limit);
    EXPECT_THROW(read_document_file(write("over", std::string(document_limit + 1, 'x'))),
                 std::runtime_error);
    EXPECT_THROW(read_document_file(dir), std::runtime_error);
}

TEST_F(temp_dir, CredentialsAreReadAgainAndConverted)
{
    request req;
    req.creds_file = write("creds.json", "{\"token_expiry\": \"first\"}");
    documents docs(req, {write("config.json", "{\"account\":\"a\"}"), true});
    EXPECT_EQ(docs.get("creds"), std::optional<std::string>("{\"token_expiry\": \"first\"}"));
    write("creds.json", "{\"access_token\": \"opaque\", \"expires_on\": 0}");
    EXPECT_EQ(docs.get("renew-creds"),
              std::optional<std::string>("{\"access_token\":\"opaque\",\"token_expiry\":\"1970-01-"
                                         "01T00:00:00.000000+00:00\",\"sub\":\"unknown\"}"));
    write("creds.json", "{\"access_token\": \"no expiry\"}");
    EXPECT_THROW(docs.get("creds"), std::runtime_error);
}

TEST_F(temp_dir, PartFileCountsOnlyItsGapFreeStart)
{
    std::string path = write("x.part", "");
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    part_sink sink(fd, 100, 0); // a range from offset 100 is a file of its own
    auto put = [&](const char *text, int64_t offset) {
        sink.write((const unsigned char *)text, strlen(text), offset);
        return sink.contiguous();
    };
    EXPECT_EQ(put("cc", 104), 0);
    EXPECT_EQ(put("aa", 100), 2);
    EXPECT_EQ(put("bb", 102), 6); // reaches the piece that waited
    EXPECT_EQ(put("eeee", 108), 6);
    EXPECT_EQ(put("ee", 108), 6); // a shorter repeat keeps the longer piece
    EXPECT_TRUE(sink.trim());
    EXPECT_THROW(put("dd", 106), std::system_error);
    close(fd);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "aabbcc");
}

// (standard input of another size is refused end to end, in the emulator test)
TEST_F(temp_dir, AFileThatGrowsWhileReadIsRefused)
{
    std::string path = write("grows", "hello");
    int fd = open(path.c_str(), O_RDONLY);
    ostrel_host::file_source file(fd);
    exact_source exact(file, "grows");
    write("grows", "hello!");
    unsigned char buffer[8];
    bool at_end = false;
    EXPECT_THROW(exact.read(buffer, 5, 0, at_end), std::system_error);
    // another stream may read past the end before the read that finds it
    EXPECT_EQ(exact.read(buffer, 8, 6, at_end), 0u);
    EXPECT_TRUE(at_end);
    close(fd);
}

TEST_F(temp_dir, TokenCommandsAreBoundedAndNeverQuoted)
{
    struct row {
        std::string command, message;
    } rows[] = {
        {"echo secret-token; exit 3", "status 3"},
        {"true", "printed nothing"},
        {"yes secret-token", "more than 4 MiB"},
        {"kill -9 $$", "signal 9"},
    };
    for (const row &r : rows) {
        try {
            run_token_command(r.command, 60);
            ADD_FAILURE() << r.command << " accepted";
        } catch (const std::runtime_error &e) {
            std::string what = e.what();
            EXPECT_NE(what.find(r.message), std::string::npos) << what;
            EXPECT_EQ(what.find("secret-token"), std::string::npos) << what;
        }
    }
}

// One hour east of UTC, without daylight saving: local times are known.
struct in_zone : ::testing::Test {
    void SetUp() override
    {
        setenv("TZ", "XYZ-1", 1);
        tzset();
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }
};

// A JWT whose payload is {"exp":1700000000,"sub":"alice"} (2023-11-14T22:13:20Z).
const std::string jwt = "e30.eyJleHAiOjE3MDAwMDAwMDAsInN1YiI6ImFsaWNlIn0.sig";

TEST_F(in_zone, ForeignDocumentsBecomeCredentialDocuments)
{
    const std::string at_exp = "\"2023-11-14T22:13:20.000000+00:00\"";
    const std::string hour_later = "\"2023-11-14T23:13:20.000000+00:00\"";
    struct row {
        std::string input, expiry;
    } rows[] = {
        // az: expires_on wins over a disagreeing expiresOn
        {"{\"accessToken\":\"" + jwt +
             "\",\"expiresOn\":\"2030-01-01 00:00:00.000000\",\"expires_on\":1700003600}",
         hour_later},
        // old az: local time only
        {"{\"accessToken\":\"" + jwt + "\",\"expiresOn\":\"2023-11-15 00:13:20.123456\"}",
         hour_later},
        {"{\"accessToken\":\"" + jwt + "\",\"expiresOn\":\"N/A\"}", at_exp},
        // managed identity: seconds as text or number; unreadable falls back to exp
        {"{\"access_token\":\"" + jwt + "\",\"expires_on\":\"1700003600\"}", hour_later},
        {"{\"access_token\":\"" + jwt + "\",\"expires_on\":1700003600}", hour_later},
        {"{\"access_token\":\"" + jwt + "\",\"expires_on\":\"soon\"}", at_exp},
    };
    for (const row &r : rows) {
        credential_result result = credential_document(r.input);
        ASSERT_TRUE(result.document) << r.input << ": " << result.error;
        EXPECT_EQ(*result.document, "{\"access_token\":\"" + jwt +
                                        "\",\"token_expiry\":" + r.expiry + ",\"sub\":\"alice\"}")
            << r.input;
    }
    const std::string own = "{\"access_token\":\"x\",\"token_expiry\":\"t\",\"sub\":\"s\"}";
    EXPECT_EQ(credential_document(own).document, own);
}

TEST(Credentials, RefusedWithoutQuotingTheToken)
{
    for (const std::string input :
         {"secret-token", "[\"secret-token\"]", "{\"accessToken\":\"\"}",
          "{\"token\":\"secret-token\"}", "{\"access_token\":\"secret-token\"}",
          "{\"access_token\":\"a.secret-token.c\",\"expires_on\":\"-5\"}"}) {
        credential_result result = credential_document(input);
        EXPECT_FALSE(result.document) << input;
        EXPECT_FALSE(result.error.empty()) << input;
        EXPECT_EQ(result.error.find("secret-token"), std::string::npos) << result.error;
    }
}

TEST_F(in_zone, TimesAndClaims)
{
    for (const char *bad : {"2023-02-29 00:00:00", "2023-11-14T23:13:20", "2023-11-14 23:13:20.",
                            "2023-11-14 24:00:00", "2023-11-14 23:13:20 ", "23-11-14 23:13:20"})
        EXPECT_EQ(parse_local_time(bad), std::nullopt) << bad;

    EXPECT_EQ(parse_epoch_seconds("253402300799"), 253402300799);
    for (const char *bad : {"", "-1", "253402300800", "1e9", " 1"})
        EXPECT_EQ(parse_epoch_seconds(bad), std::nullopt) << bad;

    EXPECT_EQ(jwt_claim("e30.e30.x", "exp"), std::nullopt);
    EXPECT_EQ(jwt_claim("no-dots", "exp"), std::nullopt);
    EXPECT_EQ(jwt_claim("e30.!!!.x", "exp"), std::nullopt);

    // what we write is what the plug-in reads
    for (int64_t seconds : {(int64_t)0, (int64_t)1700000000, (int64_t)253402300799}) {
        time_t read_back = -1;
        ASSERT_TRUE(ostrel_i_azure_token_time(credential_timestamp(seconds).c_str(), &read_back));
        EXPECT_EQ(read_back, seconds);
    }
}

TEST(Output, NamesAreEscapedForOneTerminalLine)
{
    struct row {
        std::string name, shown;
    } rows[] = {
        {"plain name.txt", "plain name.txt"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b[31mred", "\\x1B[31mred"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"bad\xFF\xC3", "bad\\xFF\\xC3"},
        {"\xF4\x90\x80\x80\xED\xA0\x80", "\\xF4\\x90\\x80\\x80\\xED\\xA0\\x80"},
    };
    for (const row &r : rows)
        EXPECT_EQ(escape_name(r.name), r.shown) << r.shown;

    ostrel_host::error_info error;
    error.ok = false;
    error.text = "550 PATH_NOT_FOUND: GridFTP-Path: \"/c/a\nb\"\nAzure Error accessing "
                 "\"c/a\nb\": \x1b[2J";
    EXPECT_EQ(error_text("stat /c/a\\nb", error, "/c/a\nb"),
              "ostrel-azure: stat /c/a\\nb: 550 PATH_NOT_FOUND: GridFTP-Path: \"/c/a\\nb\"\n"
              "  Azure Error accessing \"c/a\\nb\": \\x1B[2J\n");
}

TEST_F(in_zone, EntryLines)
{
    ostrel_gfs_stat_t e = {};
    e.mode = 0100644;
    e.nlink = 1;
    e.size = 1234;
    e.atime = e.ctime = -1;
    e.mtime = 1700000000;
    e.dev = 5;
    e.ino = 6;
    EXPECT_EQ(long_line(e, "f\n.txt"),
              "-rw-r--r--   1     0     0         1234 2023-11-14 23:13 f\\n.txt");
    EXPECT_EQ(json_line(e, "f\n\x7f\xC2\x9B"),
              "{\"name\":\"f\\n\\u007f\\u009b\",\"mode\":33188,\"nlink\":1,\"uid\":0,\"gid\":0,"
              "\"size\":1234,\"atime\":-1,\"ctime\":-1,\"mtime\":1700000000,\"dev\":5,\"ino\":6}");
    e.mode = 040700;
    e.mtime = -1;
    EXPECT_EQ(long_line(e, "dir"), "drwx------   1     0     0         1234                - dir");
}

TEST(Check, ProbeVerdicts)
{
    const std::string path = "/probe";
    const std::string head = "Azure Error accessing \"/probe\": ";
    struct row {
        int reply;
        const char *code;
        std::string text;
        probe_outcome outcome;
    } rows[] = {
        // (an answer, an expired token, no listener: the emulator test's)
        {550, "PERMISSION_DENIED", head + "403 ErrorAccessDenied: :", probe_outcome::token_refused},
        {0, "", head + "403 HttpErrorForbidden: :", probe_outcome::token_refused},
        {0, "", head + "6 ErrorUnknown: : Couldn't resolve host name", probe_outcome::unreachable},
        {0, "", head + "77 ErrorUnknown: : Problem with the SSL CA cert (path? access rights?)",
         probe_outcome::certificate},
        {0, "", head + "60 ErrorUnknown: : SSL peer certificate or SSH remote key was not OK",
         probe_outcome::certificate},
        {0, "", head + "500 ErrorUnknown: :", probe_outcome::failed},
    };
    for (const row &r : rows) {
        ostrel_host::error_info error;
        error.ok = false;
        error.reply_code = r.reply;
        error.response_error_code = r.code;
        error.text = r.text;
        EXPECT_EQ(classify_probe(error, path), r.outcome) << r.text;
    }
    EXPECT_EQ(classify_probe(ostrel_host::error_info(), path), probe_outcome::answered);
}

} // namespace
