// ostrel-azure run as a user runs it (its path comes in as OSTREL_CLI): help,
// usage errors and where the configuration comes from, without a service; then
// against a fresh blob emulator what a user sees for check, listings and
// directory commands, odd names, and transfers.
#include "tests/az/itest_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

namespace
{

struct run_result {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Environment changes for the run: a value sets the variable, nullopt unsets it.
using env_changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A file that is removed with the object.
class temp_file
{
  public:
    explicit temp_file(const std::string &content)
    {
        char path[] = "/tmp/ostrel-cli-test-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0)
            throw std::runtime_error("mkstemp failed");
        close(fd);
        path_ = path;
        spit(path_, content);
    }
    ~temp_file() { unlink(path_.c_str()); }
    const std::string &path() const { return path_; }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;

  private:
    std::string path_;
};

// The program running on its own; standard input is /dev/null or the file
// input names, output goes to the files out and err.
pid_t start_cli(const std::vector<std::string> &args, const env_changes &env,
                const std::string &input, const std::string &out, const std::string &err)
{
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        for (const auto &change : env) {
            if (change.second)
                setenv(change.first.c_str(), change.second->c_str(), 1);
            else
                unsetenv(change.first.c_str());
        }
        ostrel_test::exec_program(OSTREL_CLI, args, input.empty() ? "/dev/null" : input, out, err);
    }
    return pid;
}

run_result run_cli(const std::vector<std::string> &args, const env_changes &env = {},
                   const std::string &input = "")
{
    temp_file out(""), err("");
    pid_t pid = start_cli(args, env, input, out.path(), err.path());
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        throw std::runtime_error("waitpid failed");
    run_result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(out.path());
    result.err = slurp(err.path());
    return result;
}

// A configuration naming the emulator's account at a port where nothing
// listens: enough for a session to start, never for a request to succeed.
std::string unreachable_config()
{
    return "{\"account\": \"devstoreaccount1:127.0.0.1:9/devstoreaccount1\", "
           "\"retry_max_delay_ms\": 10}";
}

// The help is printed from the tables the parser reads; what can go wrong
// is a table left out of a page.
TEST(Program, HelpPagesShowTheirCommandsAndOptions)
{
    struct row {
        std::vector<std::string> args;
        std::vector<std::string> shown;
    } rows[] = {
        {{"--help"}, {"check", "batch", "--config", "--block-size", "--help"}},
        {{"get", "--help"}, {"--offset", "--continue", "--help", "--config", "--token-timeout"}},
        {{"help", "batch"}, {"--keep-going", "--help", "--verbose"}},
    };
    for (const row &page : rows) {
        auto r = run_cli(page.args);
        EXPECT_EQ(r.status, 0) << page.args[0] << r.err;
        for (const std::string &word : page.shown)
            EXPECT_NE(r.out.find("  " + word + " "), std::string::npos) << page.args[0] << word;
    }

    auto r = run_cli({"ls", "-q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("ostrel-azure: unknown option -q for ls\nusage: ostrel-azure", 0), 0u)
        << r.err;
}

// A home of its own, so no real user configuration is read.
struct fresh_home : ::testing::Test {
    std::string home = "/tmp/ostrel-cli-home-" + ostrel_test::unique_name("h");
    // a relative XDG_CONFIG_HOME is no base directory
    env_changes env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", "xdg"}, {"OSTREL_AZURE_CONFIG", std::nullopt}};
    temp_file creds{ostrel_test::mint_creds()};

    void SetUp() override { ASSERT_EQ(mkdir(home.c_str(), 0700), 0); }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + home + "'").c_str()), 0); }

    run_result cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--creds", creds.path()});
        return run_cli(args, env);
    }
};

TEST_F(fresh_home, ConfigurationComesFromOptionVariableOrDefault)
{
    auto r = cli({"check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no configuration"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(home + "/.config/ostrel-azure/config.json"), std::string::npos) << r.err;

    std::string dir = home + "/xdg/ostrel-azure";
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::ofstream(dir + "/config.json") << unreachable_config();
    env.push_back({"XDG_CONFIG_HOME", home + "/xdg"});
    r = cli({"check"});
    EXPECT_NE(r.out.find("config:        " + dir + "/config.json\n"), std::string::npos)
        << r.out << r.err;

    temp_file named(unreachable_config());
    env.push_back({"OSTREL_AZURE_CONFIG", named.path()});
    r = cli({"check"});
    EXPECT_NE(r.out.find("config:        " + named.path() + "\n"), std::string::npos) << r.out;
    r = cli({"--config", "/nonexistent/c.json", "check"});
    EXPECT_NE(r.err.find("cannot read /nonexistent/c.json"), std::string::npos) << r.err;
}

TEST_F(fresh_home, FailuresBeforeTheServiceIsAsked)
{
    temp_file config(unreachable_config());
    temp_file bad_adls("{\"account\": \"devstoreaccount1:127.0.0.1:9/x\", \"adls\": 1}");
    struct row {
        std::vector<std::string> args;
        std::string message;
    } rows[] = {
        {{"--config", "/dev/zero", "check"}, "larger than 4 MiB"},
        {{"--config", bad_adls.path(), "--creds", creds.path(), "check"},
         "Error parsing storage account"},
        {{"--config", config.path(), "--creds", creds.path(), "rmdir", "/some-container"},
         "set OSTREL_AZURE_DELETE_CONTAINERS=1"},
    };
    for (const row &r : rows) {
        auto result = run_cli(r.args, {{"OSTREL_AZURE_DELETE_CONTAINERS", std::nullopt}});
        EXPECT_EQ(result.status, 1) << r.message;
        EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
    }
}

bool process_gone(const std::string &pid)
{
    for (int i = 0; i < 50; i++, usleep(100000)) {
        std::ifstream in("/proc/" + pid + "/stat");
        std::string skip, name, state;
        if (!(in >> skip >> name >> state) || state == "Z")
            return true;
    }
    return false;
}

// What a token command starts goes down with it: on a timeout, and when the
// program is stopped (the command's own group gets no terminal signals).
TEST_F(fresh_home, TokenCommandGroupIsStopped)
{
    temp_file config(unreachable_config());
    std::string pid_file = home + "/pid";
    for (std::string ending : {"wait", "kill -TERM $PPID; wait"}) {
        auto r = run_cli({"--config", config.path(), "--token-timeout", "1", "--token-command",
                          "sleep 1000 & echo $! > " + pid_file + "; " + ending, "check"});
        EXPECT_NE(r.status, 0);
        if (ending == "wait") {
            EXPECT_NE(r.err.find("did not finish within 1 s"), std::string::npos) << r.err;
        }
        std::string pid;
        std::ifstream(pid_file) >> pid;
        ASSERT_FALSE(pid.empty());
        EXPECT_TRUE(process_gone(pid)) << "sleep " << pid << " outlived " << ending;
    }
}

// The emulator's paths and names need no JSON escaping.
std::string config_text(const std::string &account_text, const std::string &ca_file)
{
    return "{\"account\":\"" + account_text + "\"" +
           (ca_file.empty() ? "" : ",\"ca_file\":\"" + ca_file + "\"") +
           ",\"retry_max_delay_ms\":10}";
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

bool has_line(const std::string &text, const std::string &line)
{
    std::vector<std::string> all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

struct cli_emulator : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_EQ(AZ_initialize(), AZ_OK); }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    az_itest::client_ptr seed = az_itest::make_client(emu);
    std::string creds = ostrel_test::mint_creds(3600, "cli-user");
    temp_file config{config_text(emu.account_text, emu.ca_file)};
    temp_file creds_file{creds};

    run_result cli(std::vector<std::string> args, const std::string &input = "")
    {
        args.insert(args.begin(), {"--config", config.path(), "--creds", creds_file.path()});
        return run_cli(args, {}, input);
    }
};

TEST_F(cli_emulator, CheckAsksTheServiceAndNeverShowsTheToken)
{
    auto r = cli({"--debug", "ALL", "check"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "endpoint:      " + emu.endpoint)) << r.out;
    EXPECT_TRUE(has_line(r.out, "subject:       cli-user")) << r.out;
    EXPECT_NE(r.out.find("service:       answered"), std::string::npos) << r.out;
    size_t start = creds.find("eyJ");
    std::string token = creds.substr(start, creds.find('"', start) - start);
    EXPECT_EQ(r.out.find(token), std::string::npos);
    EXPECT_EQ(r.err.find(token), std::string::npos) << "token in the debug log";

    r = cli({"check", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(",\"service\":\"answered\"}"), std::string::npos) << r.out;
}

TEST_F(cli_emulator, CheckNamesWhatFailed)
{
    temp_file unreachable(unreachable_config());
    temp_file system_cas(config_text(emu.account_text, ""));
    temp_file expired(ostrel_test::mint_creds(-100));
    struct row {
        std::string config, creds, message;
    } rows[] = {
        {unreachable.path(), creds_file.path(), "cannot reach the service at 127.0.0.1:9/"},
        {system_cas.path(), creds_file.path(), "the service's certificate was not accepted"},
        {config.path(), expired.path(), "the access token expired at"},
    };
    for (const row &r : rows) {
        auto result = run_cli({"--config", r.config, "--creds", r.creds, "check"});
        EXPECT_EQ(result.status, 1) << r.message << ": " << result.out;
        EXPECT_EQ(result.err.rfind("ostrel-azure: check: " + r.message, 0), 0u) << result.err;
    }
}

TEST_F(cli_emulator, ListingsDirectoriesAndOddNames)
{
    std::string container = ostrel_test::unique_name("cli");
    std::string root = "/" + container;
    ASSERT_EQ(cli({"mkdir", root}).status, 0);
    ASSERT_EQ(cli({"mkdir", root + "/dir"}).status, 0);
    az_itest::put_text(seed.get(), container, "f.txt", "hello");
    // what an XML listing can carry: newline, tab, DEL, a C1 control
    const std::string odd = "a\nb\tc\x7f\xC2\x9B";
    az_itest::put_text(seed.get(), container, odd, "x");
    // more than one batch of 32 entries
    for (int i = 0; i < 32; i++)
        az_itest::put_text(seed.get(), container, "n" + std::to_string(i), "x");

    auto r = cli({"ls", root});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "a\\nb\\tc\\x7F\\xC2\\x9B")) << r.out;
    EXPECT_EQ(lines(r.out).size(), 36u) << r.out; // ".", dir, f.txt, the odd one and 32

    // a file lists itself; a missing path still fails
    r = cli({"ls", "-l", container + "/f.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("-rwx------ ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" 5 "), std::string::npos) << r.out;
    EXPECT_EQ(lines(r.out), std::vector<std::string>{lines(r.out)[0]});
    EXPECT_EQ(cli({"ls", root + "/missing"}).status, 1);

    r = cli({"stat", root + "/no\nsuch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err)[0], "ostrel-azure: stat " + root +
                                   "/no\\nsuch: 550 PATH_NOT_FOUND: "
                                   "GridFTP-Path: \"" +
                                   root + "/no\\nsuch\"");
}

bool exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

struct cli_transfers : cli_emulator {
    std::string container = ostrel_test::unique_name("xfer");
    std::string root = "/" + container + "/";
    std::string dir;
    // not a multiple of the 256 KiB blocks used below
    std::string data = ostrel_test::pattern((3u << 20) + 17);

    void SetUp() override
    {
        az_itest::create_container(seed.get(), container);
        char path[] = "/tmp/ostrel-cli-xfer-XXXXXX";
        ASSERT_NE(mkdtemp(path), nullptr);
        dir = path;
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }
    std::string local(const std::string &name) { return dir + "/" + name; }
    std::string blob(const std::string &key)
    {
        return az_itest::get_blob(seed.get(), container, key).data;
    }
    std::optional<std::string> modtime(const std::string &key)
    {
        for (const auto &pair : az_itest::head_entry(seed.get(), container, key).metadata) {
            if (pair.first == "ostrel_modtime")
                return pair.second;
        }
        return std::nullopt;
    }
};

TEST_F(cli_transfers, PutAndGetKeepDataAndTime)
{
    spit(local("up.bin"), data);
    struct utimbuf times = {1600000000, 1600000000};
    ASSERT_EQ(utime(local("up.bin").c_str(), &times), 0);
    auto r = cli({"--streams", "3", "--block-size", "256K", "put", local("up.bin"), root});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(blob("up.bin") == data);
    EXPECT_EQ(modtime("up.bin"), "1600000000");
    EXPECT_EQ(cli({"put", "--no-mtime", local("up.bin"), root + "none"}).status, 0);
    EXPECT_EQ(modtime("none"), std::nullopt);
    EXPECT_EQ(cli({"put", "--mtime", "1234", local("up.bin"), root + "set"}).status, 0);
    EXPECT_EQ(modtime("set"), "1234");

    r = cli({"--block-size", "256K", "get", root + "up.bin", local("down.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(slurp(local("down.bin")) == data);
    struct stat info;
    ASSERT_EQ(stat(local("down.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1600000000);
    EXPECT_FALSE(exists(local("down.bin.part")));
    ASSERT_EQ(cli({"get", root + "up.bin", dir}).status, 0); // a directory takes the blob's name
    EXPECT_TRUE(slurp(local("up.bin")) == data);

    const int64_t size = (int64_t)data.size();
    struct row {
        int64_t offset, length;
        std::string expected;
    } rows[] = {
        {100, 50, data.substr(100, 50)},
        {size - 1, -1, data.substr(data.size() - 1)},
        {size, -1, ""},
        {size - 10, 100, data.substr(data.size() - 10)},
        {(1 << 18) - 1, (1 << 18) + 2, data.substr((1 << 18) - 1, (1 << 18) + 2)},
    };
    for (const row &w : rows) {
        std::string offset = std::to_string(w.offset), length = std::to_string(w.length);
        for (const std::string &to : {local("range"), std::string("-")}) {
            r = cli({"--block-size", "256K", "get", "--offset", offset, "--length", length,
                     root + "up.bin", to});
            EXPECT_EQ(r.status, 0) << offset << r.err;
            EXPECT_TRUE((to == "-" ? r.out : slurp(to)) == w.expected) << offset << " " << to;
        }
    }
    r = cli({"get", "--offset", std::to_string(size + 1), root + "up.bin", local("beyond")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("beyond the end"), std::string::npos) << r.err;
}

TEST_F(cli_transfers, StandardInputMustHaveTheAnnouncedSize)
{
    spit(local("in"), data);
    EXPECT_EQ(cli({"put", "--size", std::to_string(data.size()), "-", root + "exact"}, local("in"))
                  .status,
              0);
    EXPECT_TRUE(blob("exact") == data);
    for (size_t size : {data.size() - 1, data.size() + 1}) {
        auto r = cli({"put", "--size", std::to_string(size), "-", root + "wrong"}, local("in"));
        EXPECT_EQ(r.status, 1) << size;
        EXPECT_NE(r.err.find("bytes announced"), std::string::npos) << r.err;
        EXPECT_NE(az_itest::head_blob(seed.get(), container, "wrong").status, AZ_OK) << size;
    }
    EXPECT_EQ(cli({"put", "-", root + "nosize"}).status, 2);
    auto r = cli({"put", dir, root + "d"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;
}

TEST_F(cli_transfers, BatchRunsInOneSessionAndStopsAtTheFirstFailure)
{
    spit(local("my file"), data);
    const std::string remote = "'" + root + "with space'";
    std::string batch;
    for (const std::string &line : std::vector<std::string>{
             "# upload, then its checksum from what the upload saw",
             "put \"" + local("my file") + "\" " + remote, "", "cksum " + remote,
             "get " + remote + " " + local("back"), "stat --nope /x", "ls " + root})
        batch += line + "\n";
    spit(local("batch"), batch);
    auto r = cli({"batch", local("batch")});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, ostrel_test::md5_hex(data) + "\n");
    EXPECT_TRUE(slurp(local("back")) == data);
    EXPECT_NE(r.err.find("line 6: unknown option --nope"), std::string::npos) << r.err;

    // from standard input, going on after failures, but not past a line
    // that never ends
    spit(local("batch"), "rm " + root + "missing\nls " + root + "\nls " + std::string(70000, 'x') +
                             "\nrm " + remote + "\n");
    r = cli({"batch", "--keep-going", "-"}, local("batch"));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(has_line(r.out, "with space")) << r.out;
    EXPECT_NE(r.err.find("standard input line 3: longer than 65536 bytes"), std::string::npos)
        << r.err;
    EXPECT_TRUE(blob("with space") == data) << "a line after the endless one ran";
    EXPECT_EQ(cli({"batch", "/dev/zero"}).status, 2);
}

// A download cut by the network leaves LOCAL alone and a .part of whole
// bytes only, which --continue completes.
TEST_F(cli_transfers, CutDownloadKeepsItsWholeBytesAndResumes)
{
    az_itest::put_text(seed.get(), container, "cut.bin", data);
    ostrel_test::fault_proxy proxy(emu);
    temp_file proxied(config_text(proxy.endpoint().account_text, emu.ca_file));
    auto via_proxy = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--config", proxied.path(), "--creds", creds_file.path(),
                                   "--block-size", "64K"});
        return run_cli(args);
    };
    proxy.add_rule(R"({"method": "GET", "path": "cut.bin", "times": 1, "cut_after": 1000000})");
    proxy.add_rule(R"({"method": "GET", "path": "cut.bin", "respond": {"status": 403}})");
    spit(local("cut.bin"), "old");
    auto r = via_proxy({"get", root + "cut.bin", local("cut.bin")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(slurp(local("cut.bin")), "old");
    std::string part = slurp(local("cut.bin.part"));
    EXPECT_LT(part.size(), data.size());
    EXPECT_TRUE(data.compare(0, part.size(), part) == 0) << "the .part holds a hole";
    EXPECT_NE(r.err.find("get --continue resumes"), std::string::npos) << r.err;

    proxy.clear_rules();
    r = via_proxy({"get", "--continue", root + "cut.bin", local("cut.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(slurp(local("cut.bin")) == data);
    EXPECT_FALSE(exists(local("cut.bin.part")));

    // a resume at the very end is a success without data; past it, an error
    spit(local("end.part"), data);
    EXPECT_EQ(cli({"get", "--continue", root + "cut.bin", local("end")}).status, 0);
    EXPECT_TRUE(slurp(local("end")) == data);
    spit(local("over.part"), data + "x");
    r = cli({"get", "--continue", root + "cut.bin", local("over")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("more than the"), std::string::npos) << r.err;
    r = cli({"get", root + "cut.bin", local("no/such/dir")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;

    // Ctrl-C in the middle of a slow download
    proxy.add_rule(R"({"method": "GET", "path": "cut.bin", "slow": {"bytes_per_second": 500000}})");
    temp_file out(""), err("");
    pid_t pid = start_cli({"--config", proxied.path(), "--creds", creds_file.path(), "--block-size",
                           "16K", "get", root + "cut.bin", local("int")},
                          {}, "", out.path(), err.path());
    for (int i = 0; i < 200 && slurp(local("int.part")).size() < 100000; i++)
        usleep(50000);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << slurp(err.path());
    EXPECT_FALSE(exists(local("int")));
    part = slurp(local("int.part"));
    EXPECT_GE(part.size(), 100000u);
    EXPECT_TRUE(data.compare(0, part.size(), part) == 0) << "the .part holds a hole";
}

} // namespace
