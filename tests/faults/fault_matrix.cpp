// Every operation of ostrel-azure under every fault the proxy can make. A cell
// passes when the program either succeeds with exact data or fails clearly
// with nothing lost; the table of all cells goes to the build tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "http_call.h"
#include "test_support.h"

namespace
{

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::optional<std::string> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A directory of its own that goes with the object.
class scratch
{
  public:
    scratch()
    {
        char dir[] = "/tmp/ostrel-faults-XXXXXX";
        if (!mkdtemp(dir))
            throw std::runtime_error("mkdtemp failed");
        dir_ = dir;
    }
    ~scratch()
    {
        if (system(("rm -rf '" + dir_ + "'").c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

// ---- running the program --------------------------------------------------

struct run_result {
    int status = -1;   // exit status; -1 for a signal or a hang
    bool hung = false; // killed at the deadline: a hang is a result, not a stuck test
    int signal = 0;
    double seconds = 0;
    std::string out, err;
};

run_result run_program(const std::vector<std::string> &args, int deadline_seconds)
{
    scratch files;
    std::string out = files.path("out"), err = files.path("err");
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0); // a token command it starts dies with it
        ostrel_test::exec_program(OSTREL_CLI, args, "/dev/null", out, err);
    }
    run_result r;
    int status = 0;
    auto deadline = start + std::chrono::seconds(deadline_seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            r.hung = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!r.hung && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    else if (!r.hung && WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    r.out = read_file(out).value_or("");
    r.err = read_file(err).value_or("");
    return r;
}

// ---- looking at the emulator directly -------------------------------------

// Requests straight to the emulator, never through the product: how cells are
// prepared and how what an operation left behind is seen.
struct direct {
    ostrel_test::emulator emu;
    std::string token = ostrel_test::mint_token(36000);

    ostrel_test::http_answer send(const std::string &method, const std::string &path,
                                  const std::string &body = "",
                                  std::vector<std::string> headers = {})
    {
        headers.insert(headers.end(),
                       {"Authorization: Bearer " + token, "x-ms-version: 2018-11-09"});
        return ostrel_test::http_call(method,
                                      "https://" + emu.host + ":" + std::to_string(emu.port) + "/" +
                                          emu.account + path,
                                      headers, body, emu.ca_file);
    }
    void create(const std::string &path, const std::string &body = "",
                const std::vector<std::string> &headers = {"x-ms-blob-type: BlockBlob"})
    {
        ostrel_test::http_answer a = send("PUT", path, body, headers);
        if (a.status != 201)
            throw std::runtime_error(path + ": status " + std::to_string(a.status) + " " + a.body);
    }
    void create_container(const std::string &container)
    {
        create("/" + container + "?restype=container", "", {});
    }
    void put_blob(const std::string &container, const std::string &name, const std::string &data)
    {
        create("/" + container + "/" + name, data);
    }
    // nullopt when the blob does not exist
    std::optional<std::string> blob(const std::string &container, const std::string &name)
    {
        ostrel_test::http_answer a = send("GET", "/" + container + "/" + name);
        if (a.status == 404)
            return std::nullopt;
        if (a.status != 200)
            throw std::runtime_error("read " + name + ": status " + std::to_string(a.status));
        return a.body;
    }
    bool is_marker(const std::string &container, const std::string &name)
    {
        ostrel_test::http_answer a = send("HEAD", "/" + container + "/" + name);
        return a.status == 200 && contains(a.headers, "hdi_isfolder: true");
    }
};

// ---- the operations -------------------------------------------------------

// What a cell works on; every cell has its own container, the blob is "f".
struct cell_data {
    std::string container;
    std::string data;     // what the operation should produce or read
    std::string previous; // what was there before (put: the old blob; get: the old local file)
    std::string local;    // local file of get and put
};

// The request a fault is aimed at, as a rule's method and target pattern.
struct aim {
    std::string method;
    std::string path; // regex on the target; anchored to the cell's container by the caller
};

using check = std::function<bool(direct &, const cell_data &)>;

struct operation {
    std::string name;
    aim target;
    size_t size;
    // The command; "/NAME" is NAME in the cell's container, "LOCAL" its local file.
    std::vector<std::string> args;
    std::function<void(direct &, cell_data &)> prepare;
    // The state after success (out: what the program printed); after a failure, whether
    // nothing was lost.
    std::function<bool(direct &, const cell_data &, const std::string &out)> done;
    check intact;
    // false: its data streams from the host and cannot be sent twice, so a transient fault
    // may fail it (clearly)
    bool repeatable = true;
    std::string config_extra = {}; // more configuration keys: ",\"key\":value"
};

std::string cell_arg(const cell_data &c, const std::string &arg)
{
    if (arg == "LOCAL")
        return c.local;
    return arg[0] == '/' ? "/" + c.container + (arg == "/" ? "" : arg) : arg;
}

bool blob_is(direct &d, const cell_data &c, const std::string &name, const std::string &data)
{
    auto now = d.blob(c.container, name);
    return now && *now == data;
}

bool neighbour_kept(direct &d, const cell_data &c)
{
    return blob_is(d, c, "neighbour", "stays");
}

void seed_blob(direct &d, cell_data &c)
{
    d.create_container(c.container);
    d.put_blob(c.container, "f", c.data);
    d.put_blob(c.container, "neighbour", "stays");
}

bool blob_kept(direct &d, const cell_data &c)
{
    return blob_is(d, c, "f", c.data);
}

bool nothing_to_lose(direct &, const cell_data &)
{
    return true;
}

// What a delete must leave: NAME gone, its neighbour there.
std::function<bool(direct &, const cell_data &, const std::string &)> deleted(std::string name)
{
    return [name](direct &d, const cell_data &c, const std::string &) {
        return !d.blob(c.container, name) && neighbour_kept(d, c);
    };
}

// Three pages' worth of names when the proxy forces small pages would be slow;
// forty names make a listing body of a few KiB, enough to cut or slow.
const int listed_names = 40;

std::string listed_name(int i)
{
    char name[16];
    snprintf(name, sizeof name, "n%02d", i);
    return name;
}

std::vector<operation> path_operations()
{
    return {
        {"stat",
         {"HEAD", "/f([?]|$)"},
         3000,
         {"stat", "--json", "/f"},
         seed_blob,
         [](direct &, const cell_data &c, const std::string &out) {
             return contains(out, "\"size\":" + std::to_string(c.data.size()) + ",");
         },
         blob_kept},
        {"ls",
         {"GET", "[?].*comp=list"},
         0,
         {"ls", "--json", "/"},
         [](direct &d, cell_data &c) {
             d.create_container(c.container);
             for (int i = 0; i < listed_names; i++)
                 d.put_blob(c.container, listed_name(i), "x");
         },
         [](direct &, const cell_data &, const std::string &out) {
             for (int i = 0; i < listed_names; i++)
                 if (!contains(out, "\"name\":\"" + listed_name(i) + "\""))
                     return false;
             return true;
         },
         nothing_to_lose},
        {"mkdir",
         {"PUT", "/d/?([?]|$)"},
         0,
         {"mkdir", "/d"},
         [](direct &d, cell_data &c) { d.create_container(c.container); },
         [](direct &d, const cell_data &c, const std::string &) {
             return d.is_marker(c.container, "d") || d.is_marker(c.container, "d/");
         },
         nothing_to_lose},
        {"rmdir",
         {"DELETE", "/d/?([?]|$)"},
         0,
         {"rmdir", "/d"},
         [](direct &d, cell_data &c) {
             d.create_container(c.container);
             d.create("/" + c.container + "/d", "",
                      {"x-ms-blob-type: BlockBlob", "x-ms-meta-hdi_isfolder: true"});
             d.put_blob(c.container, "neighbour", "stays");
         },
         deleted("d"),
         neighbour_kept},
        {"rm",
         {"DELETE", "/f([?]|$)"},
         2000,
         {"rm", "/f"},
         seed_blob,
         deleted("f"),
         [](direct &d, const cell_data &c) {
             return neighbour_kept(d, c) && (blob_kept(d, c) || !d.blob(c.container, "f"));
         }},
        // A range: the whole blob's MD5 comes from its properties without a read.
        {"cksum",
         {"GET", "/f([?]|$)"},
         5000,
         {"cksum", "--offset", "100", "--length", "4000", "/f"},
         seed_blob,
         [](direct &, const cell_data &c, const std::string &out) {
             return contains(out, ostrel_test::md5_hex(c.data.substr(100, 4000)));
         },
         blob_kept},
    };
}

bool local_is(const cell_data &c, const std::string &data)
{
    return read_file(c.local) == data;
}

std::vector<std::string> transfer_args(int streams, const std::string &command)
{
    std::vector<std::string> args{
        "--streams", std::to_string(streams), "--block-size", "8K", "--quiet", command};
    args.insert(args.end(), command == "get" ? "/f" : "LOCAL");
    args.insert(args.end(), command == "get" ? "LOCAL" : "/f");
    return args;
}

std::string streams_name(int streams)
{
    return std::to_string(streams) + " stream" + (streams > 1 ? "s" : "");
}

// Downloads replace a local file that held something else; uploads a blob that did.
operation get_operation(int streams)
{
    return {"get, " + streams_name(streams),
            {"GET", "/f([?]|$)"},
            32 * 1024,
            transfer_args(streams, "get"),
            [](direct &d, cell_data &c) {
                seed_blob(d, c);
                c.previous = "what the local file held";
                write_file(c.local, c.previous);
            },
            [](direct &, const cell_data &c, const std::string &) { return local_is(c, c.data); },
            [](direct &, const cell_data &c) { return local_is(c, c.previous); }};
}

operation put_operation(int streams, size_t size, const std::string &size_name)
{
    return {"put " + size_name + ", " + streams_name(streams),
            {"PUT", "/f([?]|$)"},
            size,
            transfer_args(streams, "put"),
            [](direct &d, cell_data &c) {
                d.create_container(c.container);
                c.previous = "what the blob held";
                d.put_blob(c.container, "f", c.previous);
                write_file(c.local, c.data);
            },
            [](direct &d, const cell_data &c, const std::string &) { return blob_kept(d, c); },
            [](direct &d, const cell_data &c) {
                return blob_is(d, c, "f", c.previous) || blob_kept(d, c);
            },
            false};
}

std::vector<operation> transfer_operations()
{
    // Staged blocks are kept in memory until stored, so every request of the upload can
    // be repeated: transient faults must not fail it.
    operation staged = put_operation(4, 3 * 1024 * 1024 + 5, "3 MiB staged");
    staged.config_extra = ",\"upload_block_mib\":1,\"upload_parallel\":2";
    staged.repeatable = true;
    return {get_operation(1), get_operation(4), put_operation(1, 32 * 1024, "small"),
            put_operation(4, 32 * 1024, "small"), staged};
}

// ---- the faults -----------------------------------------------------------

struct fault {
    std::string name;
    bool transient; // a repeat of the operation would pass
    // Rules for the proxy, given the aim; empty for faults made another way.
    std::function<std::vector<std::string>(const aim &)> rules;
    bool unreachable = false; // nothing listens where the program is pointed
    bool expiring_token = false;
};

std::string rule(const aim &a, int times, const std::string &action)
{
    std::string text = "{\"method\":\"" + a.method + "\",\"path\":\"" + a.path + "\"";
    if (times > 0)
        text += ",\"times\":" + std::to_string(times);
    return text + "," + action + "}";
}

std::string busy_answer(const std::string &extra_header)
{
    return "\"respond\":{\"status\":503,\"reason\":\"Server Busy\",\"headers\":{"
           "\"x-ms-request-id\":\"fault\",\"x-ms-error-code\":\"ServerBusy\"" +
           extra_header +
           "},\"body\":\"<?xml version=\\\"1.0\\\" encoding=\\\"utf-8\\\"?><Error><Code>"
           "ServerBusy</Code><Message>The server is busy.</Message></Error>\"}";
}

std::vector<fault> faults()
{
    auto one = [](std::string action) {
        return [action](const aim &a) { return std::vector<std::string>{rule(a, 1, action)}; };
    };
    auto always = [](std::string action) {
        return [action](const aim &a) { return std::vector<std::string>{rule(a, 0, action)}; };
    };
    auto garbled = always("\"replace_body\":\"<?xml version=\\\"1.0\\\"?><EnumerationResults>"
                          "<Blobs><Blob><Name>n0\"");
    return {
        {"503 once", true, one(busy_answer(""))},
        {"503 always", false, always(busy_answer(""))},
        {"503 Retry-After", true, one(busy_answer(",\"Retry-After\":\"1\""))},
        {"cut mid-body", true,
         [](const aim &a) {
             // half of a body where there is one, else right after the headers
             return std::vector<std::string>{
                 rule(a, 1, a.method == "GET" ? "\"cut_after\":1000" : "\"cut_after\":0")};
         }},
        {"answer lost", true, one("\"drop_answer\":true")},
        {"slow body", true, one("\"slow\":{\"bytes_per_second\":1024}")},
        {"stalled", true, one("\"delay_ms\":600000")},
        {"garbled XML", false,
         [garbled](const aim &a) {
             return a.method == "GET" ? garbled(a) : std::vector<std::string>{};
         }},
        {"HTML 200", false,
         always("\"respond\":{\"status\":200,\"headers\":{\"Content-Type\":\"text/html\"},"
                "\"body\":\"<html><body>Please sign in</body></html>\"}")},
        {"refused", false, nullptr, true},
        // Tokens live two seconds and the first answer takes longer than that.
        {"token expires", true, one("\"slow\":{\"bytes_per_second\":16384}"), false, true},
    };
}

// ---- judging and the table ------------------------------------------------

enum class verdict {
    ok_success, // exit 0, the data exact
    ok_failure, // a clear failure, nothing lost
    // the bad ones
    gave_up, // a clear failure of a repeatable request where a repeat would have succeeded
    false_success,
    data_lost,
    unclear, // failed without a message, or with a usage error
    crash,
    hang,
};

const char *const verdict_names[] = {"ok-success",        "ok-failure",    "BAD gave-up",
                                     "BAD false-success", "BAD data-lost", "BAD unclear",
                                     "BAD crash",         "BAD hang"};

bool is_bad(verdict v)
{
    return v > verdict::ok_failure;
}

const char *name_of(verdict v)
{
    return verdict_names[static_cast<int>(v)];
}

// A failure is clear when it exits 1 and says why; success must leave exactly
// the data asked for, and a failure must leave what was there.
verdict judge(const run_result &r, bool done, bool intact, bool transient)
{
    if (r.hung)
        return verdict::hang;
    if (r.signal != 0)
        return verdict::crash;
    if (r.status == 0)
        return done ? verdict::ok_success : verdict::false_success;
    if (!intact)
        return verdict::data_lost;
    if (r.status != 1 || r.err.empty())
        return verdict::unclear;
    return transient ? verdict::gave_up : verdict::ok_failure;
}

struct cell_result {
    std::string operation, fault;
    verdict v;
    double seconds;
    std::string message;
};

std::vector<cell_result> results;

void write_table()
{
    if (results.empty())
        return;
    std::vector<std::string> ops, fls;
    std::map<std::pair<std::string, std::string>, verdict> by;
    size_t bad = 0;
    for (const cell_result &r : results) {
        if (std::find(ops.begin(), ops.end(), r.operation) == ops.end())
            ops.push_back(r.operation);
        if (std::find(fls.begin(), fls.end(), r.fault) == fls.end())
            fls.push_back(r.fault);
        by[{r.operation, r.fault}] = r.v;
        bad += is_bad(r.v);
    }
    std::ostringstream t;
    t << "# Fault matrix\n\nCells: " << results.size() << ", bad: " << bad << ".\n\n| operation |";
    for (const std::string &f : fls)
        t << " " << f << " |";
    t << "\n|---|";
    for (size_t i = 0; i < fls.size(); i++)
        t << "---|";
    for (const std::string &o : ops) {
        t << "\n| " << o << " |";
        for (const std::string &f : fls)
            t << " " << (by.count({o, f}) ? name_of(by[{o, f}]) : "") << " |";
    }
    t << "\n\nFailures and their first line:\n\n";
    for (const cell_result &r : results)
        if (r.v != verdict::ok_success)
            t << "- " << r.operation << " / " << r.fault << ": " << name_of(r.v) << " ("
              << static_cast<int>(r.seconds * 10) / 10.0 << " s) " << r.message << "\n";
    const char *dir = getenv("OSTREL_TEST_BINARY_DIR");
    std::string path = std::string(dir ? dir : ".") + "/fault-matrix.md";
    std::ofstream(path) << t.str();
    printf("%s\nwritten to %s\n", t.str().c_str(), path.c_str());
}

struct table_writer : ::testing::Environment {
    void TearDown() override { write_table(); }
};
const auto *const registered = ::testing::AddGlobalTestEnvironment(new table_writer);

// ---- running a cell -------------------------------------------------------

class fault_matrix : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // stalls are found in seconds rather than a minute
        setenv("OSTREL_AZURE_STALL_SECONDS", "2", 1);
        emu_ = new ostrel_test::emulator(ostrel_test::emulator_from_env());
        proxy_ = new ostrel_test::fault_proxy(*emu_);
    }
    static void TearDownTestSuite()
    {
        delete proxy_;
        delete emu_;
    }

    // `during` runs beside the program, with the seed client pointed at the emulator.
    void run_cell(const operation &op, const fault &f, const ostrel_test::emulator &emu,
                  ostrel_test::fault_proxy &proxy,
                  const std::function<void(direct &, const cell_data &)> &during = nullptr)
    {
        // OSTREL_FAULT_ONLY=text runs only the faults whose name holds it
        const char *only = getenv("OSTREL_FAULT_ONLY");
        if (only && !contains(f.name, only))
            return;
        direct seed{emu};
        cell_data c;
        c.container = ostrel_test::unique_name("fm");
        aim a{op.target.method, "^/" + emu.account + "/" + c.container + op.target.path};
        std::vector<std::string> rules = f.rules ? f.rules(a) : std::vector<std::string>{};
        if (f.rules && rules.empty())
            return; // the fault has nothing to act on here
        static unsigned cells = 0;
        c.data = ostrel_test::pattern(op.size, ++cells);
        c.local = files_.path(c.container);
        op.prepare(seed, c);

        ostrel_test::emulator at = proxy.endpoint();
        if (f.unreachable) {
            at.port = 9;
            at.account_text = at.account + ":127.0.0.1:9/" + at.account;
        }
        std::string config = files_.path("config.json"), creds = files_.path("creds.json");
        write_file(config, "{\"account\":\"" + at.account_text + "\",\"ca_file\":\"" + at.ca_file +
                               "\",\"retry_max_delay_ms\":200" + op.config_extra + "}");
        write_file(creds, ostrel_test::mint_creds(36000));
        std::vector<std::string> args{"--config", config, "--creds", creds};
        if (f.expiring_token)
            args = {"--config", config, "--token-command",
                    "node '" + std::string(getenv("OSTREL_TEST_SUPPORT_DIR")) +
                        "/mint-creds' --lifetime 2"};
        for (const std::string &arg : op.args)
            args.push_back(cell_arg(c, arg));

        for (const std::string &rule : rules)
            proxy.add_rule(rule);
        run_result r;
        std::thread program([&] { r = run_program(args, 90); });
        if (during)
            during(seed, c);
        program.join();
        proxy.clear_rules();
        proxy.clear_log();

        bool done = r.status == 0 && op.done(seed, c, r.out);
        bool intact = r.status == 0 || op.intact(seed, c);
        verdict v = judge(r, done, intact, f.transient && op.repeatable);
        std::string message = r.err.empty() ? r.out : r.err;
        results.push_back({op.name, f.name, v, r.seconds, message.substr(0, message.find('\n'))});
        EXPECT_FALSE(is_bad(v)) << op.name << " / " << f.name << ": " << name_of(v)
                                << "\nstdout: " << r.out << "\nstderr: " << r.err;
    }

    static ostrel_test::emulator *emu_;
    static ostrel_test::fault_proxy *proxy_;
    scratch files_;
};

ostrel_test::emulator *fault_matrix::emu_;
ostrel_test::fault_proxy *fault_matrix::proxy_;

TEST_F(fault_matrix, PathOperations)
{
    for (const operation &op : path_operations())
        for (const fault &f : faults())
            run_cell(op, f, *emu_, *proxy_);
}

TEST_F(fault_matrix, Transfers)
{
    for (const operation &op : transfer_operations())
        for (const fault &f : faults())
            run_cell(op, f, *emu_, *proxy_);
}

// Above 128 MiB an upload goes in blocks and a commit: a lost answer to either must leave
// the previous blob, or the new one whole.
TEST_F(fault_matrix, BlockUploads)
{
    if (!ostrel_test::large_tests_enabled())
        GTEST_SKIP() << "OSTREL_TEST_SKIP_LARGE";
    operation block = put_operation(4, 128 * 1024 * 1024 + 1, "128 MiB+1");
    operation commit = block;
    block.name += ", a block";
    block.target.path = "/f[?].*comp=block(&|$)";
    commit.name += ", the commit";
    commit.target.path = "/f[?].*comp=blocklist";
    for (const fault &f : faults())
        if (f.name == "answer lost") // each cell moves 256 MiB: the fault that matters most
            for (const operation &op : {block, commit})
                run_cell(op, f, *emu_, *proxy_);
}

// An emulator of this test's own, restarted on the same port behind the proxy.
class own_emulator
{
  public:
    own_emulator()
    {
        const char *dir = getenv("OSTREL_TEST_BINARY_DIR");
        state_ = std::string(dir ? dir : "/tmp") + "/test-state";
        script("azurite-start", "");
        std::string saved = getenv("OSTREL_TEST_EMULATOR");
        setenv("OSTREL_TEST_EMULATOR", (state_ + "/" + name_ + "/env").c_str(), 1);
        emu = ostrel_test::emulator_from_env();
        setenv("OSTREL_TEST_EMULATOR", saved.c_str(), 1);
    }
    ~own_emulator() { script("azurite-stop", ""); }

    // All data is in memory: what the restart forgot is put back as a disk would have kept it.
    void restart(direct &seed, const cell_data &c)
    {
        script("azurite-stop", "");
        script("azurite-start", "--port " + std::to_string(emu.port));
        seed.create_container(c.container);
        seed.put_blob(c.container, "f", c.previous);
    }

    ostrel_test::emulator emu;

  private:
    void script(const std::string &which, const std::string &extra)
    {
        std::string command = std::string(getenv("OSTREL_TEST_SUPPORT_DIR")) + "/" + which +
                              " --name " + name_ + " --state '" + state_ + "' " + extra +
                              " >/dev/null";
        if (system(command.c_str()) != 0)
            throw std::runtime_error(command + " failed");
    }

    std::string name_ = "faults_restart", state_;
};

// The upload waits in the proxy while the emulator goes down and comes back.
TEST_F(fault_matrix, EmulatorRestartedMidUpload)
{
    own_emulator own;
    ostrel_test::fault_proxy proxy(own.emu);
    fault restart{"emulator restarted", true, [](const aim &a) {
                      return std::vector<std::string>{rule(a, 1, "\"delay_ms\":8000")};
                  }};
    for (const operation &op :
         {put_operation(1, 32 * 1024, "small"), put_operation(4, 32 * 1024, "small")})
        run_cell(op, restart, own.emu, proxy, [&](direct &seed, const cell_data &c) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            own.restart(seed, c);
        });
}

} // namespace
