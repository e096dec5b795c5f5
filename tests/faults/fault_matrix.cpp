// Every operation of ostrel-azure under every fault the proxy can make. A cell
// passes when the program either succeeds with exact data or fails clearly
// with nothing lost; the table of all cells goes to the build tree.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "matrix.h"
#include "test_support.h"

namespace ostrel_faults
{
namespace
{

std::string random_bytes(size_t size)
{
    static std::mt19937 generator(12345);
    std::string data(size, '\0');
    for (char &c : data)
        c = static_cast<char>(generator());
    return data;
}

std::string md5_hex(const std::string &data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; i++) {
        snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string remote(const cell_data &c, const std::string &name)
{
    return "/" + c.container + "/" + name;
}

// ---- the operations -------------------------------------------------------

void seed_blob(direct &d, cell_data &c)
{
    d.create_container(c.container);
    d.put_blob(c.container, c.blob, c.data);
    d.put_blob(c.container, "neighbour", "stays");
}

bool blob_is(direct &d, const cell_data &c, const std::string &data)
{
    auto now = d.blob(c.container, c.blob);
    return now && *now == data;
}

bool neighbour_kept(direct &d, const cell_data &c)
{
    auto now = d.blob(c.container, "neighbour");
    return now && *now == "stays";
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
    std::vector<operation> ops;
    ops.push_back({"stat",
                   {"HEAD", "/f([?]|$)"},
                   3000,
                   {},
                   seed_blob,
                   [](const cell_data &c) {
                       return std::vector<std::string>{"stat", "--json", remote(c, c.blob)};
                   },
                   [](direct &, const cell_data &c, const run_result &r) {
                       return contains(r.out, "\"size\":" + std::to_string(c.data.size()) + ",");
                   },
                   [](direct &d, const cell_data &c) { return blob_is(d, c, c.data); }});
    ops.push_back({"ls",
                   {"GET", "[?].*comp=list"},
                   0,
                   {},
                   [](direct &d, cell_data &c) {
                       d.create_container(c.container);
                       for (int i = 0; i < listed_names; i++)
                           d.put_blob(c.container, listed_name(i), "x");
                   },
                   [](const cell_data &c) {
                       return std::vector<std::string>{"ls", "--json", "/" + c.container};
                   },
                   [](direct &, const cell_data &, const run_result &r) {
                       for (int i = 0; i < listed_names; i++)
                           if (!contains(r.out, "\"name\":\"" + listed_name(i) + "\""))
                               return false;
                       return true;
                   },
                   [](direct &, const cell_data &) { return true; }});
    ops.push_back({"mkdir",
                   {"PUT", "/d/?([?]|$)"},
                   0,
                   {},
                   [](direct &d, cell_data &c) { d.create_container(c.container); },
                   [](const cell_data &c) {
                       return std::vector<std::string>{"mkdir", remote(c, "d")};
                   },
                   [](direct &d, const cell_data &c, const run_result &) {
                       return d.is_marker(c.container, "d") || d.is_marker(c.container, "d/");
                   },
                   [](direct &, const cell_data &) { return true; }});
    ops.push_back({"rmdir",
                   {"DELETE", "/d/?([?]|$)"},
                   0,
                   {},
                   [](direct &d, cell_data &c) {
                       d.create_container(c.container);
                       d.put_marker(c.container, "d");
                       d.put_blob(c.container, "neighbour", "stays");
                   },
                   [](const cell_data &c) {
                       return std::vector<std::string>{"rmdir", remote(c, "d")};
                   },
                   [](direct &d, const cell_data &c, const run_result &) {
                       return !d.blob(c.container, "d") && neighbour_kept(d, c);
                   },
                   [](direct &d, const cell_data &c) { return neighbour_kept(d, c); }});
    ops.push_back({"rm",
                   {"DELETE", "/f([?]|$)"},
                   2000,
                   {},
                   seed_blob,
                   [](const cell_data &c) {
                       return std::vector<std::string>{"rm", remote(c, c.blob)};
                   },
                   [](direct &d, const cell_data &c, const run_result &) {
                       return !d.blob(c.container, c.blob) && neighbour_kept(d, c);
                   },
                   [](direct &d, const cell_data &c) {
                       auto now = d.blob(c.container, c.blob);
                       return neighbour_kept(d, c) && (!now || *now == c.data);
                   }});
    // A range: the whole blob's MD5 comes from its properties without a read.
    ops.push_back({"cksum",
                   {"GET", "/f([?]|$)"},
                   5000,
                   {},
                   seed_blob,
                   [](const cell_data &c) {
                       return std::vector<std::string>{"cksum",    "--offset", "100",
                                                       "--length", "4000",     remote(c, c.blob)};
                   },
                   [](direct &, const cell_data &c, const run_result &r) {
                       return contains(r.out, md5_hex(c.data.substr(100, 4000)));
                   },
                   [](direct &d, const cell_data &c) { return blob_is(d, c, c.data); }});
    return ops;
}

bool local_is(const cell_data &c, const std::string &data)
{
    std::string now;
    return scratch::read(c.local, now) && now == data;
}

// Downloads replace a local file that held something else; uploads a blob that did.
operation get_operation(int streams)
{
    std::string n = std::to_string(streams);
    return {"get, " + n + " stream" + (streams > 1 ? "s" : ""),
            {"GET", "/f([?]|$)"},
            32 * 1024,
            {"--streams", n, "--block-size", "8K", "--quiet"},
            [](direct &d, cell_data &c) {
                seed_blob(d, c);
                c.previous = "what the local file held";
                scratch::write(c.local, c.previous);
            },
            [](const cell_data &c) {
                return std::vector<std::string>{"get", remote(c, c.blob), c.local};
            },
            [](direct &, const cell_data &c, const run_result &) { return local_is(c, c.data); },
            [](direct &, const cell_data &c) { return local_is(c, c.previous); }};
}

operation put_operation(int streams, size_t size, const std::string &size_name)
{
    std::string n = std::to_string(streams);
    operation op{
        "put " + size_name + ", " + n + " stream" + (streams > 1 ? "s" : ""),
        {"PUT", "/f([?]|$)"},
        size,
        {"--streams", n, "--block-size", "8K", "--quiet"},
        [](direct &d, cell_data &c) {
            d.create_container(c.container);
            c.previous = "what the blob held";
            d.put_blob(c.container, c.blob, c.previous);
            scratch::write(c.local, c.data);
        },
        [](const cell_data &c) {
            return std::vector<std::string>{"put", c.local, remote(c, c.blob)};
        },
        [](direct &d, const cell_data &c, const run_result &) { return blob_is(d, c, c.data); },
        [](direct &d, const cell_data &c) {
            return blob_is(d, c, c.previous) || blob_is(d, c, c.data);
        }};
    op.repeatable = false;
    return op;
}

std::vector<operation> transfer_operations()
{
    return {get_operation(1), get_operation(4), put_operation(1, 32 * 1024, "small"),
            put_operation(4, 32 * 1024, "small")};
}

// ---- the faults -----------------------------------------------------------

std::string rule(const aim &a, int times, const std::string &action)
{
    std::string text = "{\"method\":\"" + a.method + "\",\"path\":\"" + a.path + "\"";
    if (times > 0)
        text += ",\"times\":" + std::to_string(times);
    return text + "," + action + "}";
}

const std::string busy =
    "\"respond\":{\"status\":503,\"reason\":\"Server Busy\",\"headers\":{\"x-ms-request-id\":"
    "\"fault\",\"x-ms-error-code\":\"ServerBusy\"%s},\"body\":\"<?xml version=\\\"1.0\\\" "
    "encoding=\\\"utf-8\\\"?><Error><Code>ServerBusy</Code><Message>The server is busy."
    "</Message></Error>\"}";

std::string busy_answer(const std::string &extra_header)
{
    char text[512];
    snprintf(text, sizeof text, busy.c_str(), extra_header.c_str());
    return text;
}

std::vector<fault> faults()
{
    auto one = [](std::string action) {
        return [action](const aim &a) { return std::vector<std::string>{rule(a, 1, action)}; };
    };
    auto always = [](std::string action) {
        return [action](const aim &a) { return std::vector<std::string>{rule(a, 0, action)}; };
    };
    std::vector<fault> list;
    list.push_back({"503 once", true, one(busy_answer(""))});
    list.push_back({"503 always", false, always(busy_answer(""))});
    list.push_back({"503 Retry-After", true, one(busy_answer(",\"Retry-After\":\"1\""))});
    list.push_back({"cut mid-body", true, [](const aim &a) {
                        // half of a body where there is one, else right after the headers
                        return std::vector<std::string>{rule(
                            a, 1, a.method == "GET" ? "\"cut_after\":1000" : "\"cut_after\":0")};
                    }});
    list.push_back({"answer lost", true, one("\"drop_answer\":true")});
    list.push_back({"slow body", true, one("\"slow\":{\"bytes_per_second\":1024}")});
    list.push_back({"stalled", true, one("\"delay_ms\":600000")});
    auto reads = [](std::function<std::vector<std::string>(const aim &)> rules) {
        return [rules](const aim &a) {
            return a.method == "GET" ? rules(a) : std::vector<std::string>{};
        };
    };
    list.push_back(
        {"garbled XML", false,
         reads(always("\"replace_body\":\"<?xml version=\\\"1.0\\\"?><EnumerationResults>"
                      "<Blobs><Blob><Name>n0\""))});
    list.push_back(
        {"HTML 200", false,
         always("\"respond\":{\"status\":200,\"headers\":{\"Content-Type\":\"text/html\"},"
                "\"body\":\"<html><body>Please sign in</body></html>\"}")});
    list.push_back({"refused", false, nullptr, true});
    // Tokens live two seconds and the first answer takes longer than that.
    list.push_back(
        {"token expires", true, one("\"slow\":{\"bytes_per_second\":16384}"), false, true});
    return list;
}

// ---- running a cell -------------------------------------------------------

struct cell_result {
    std::string operation, fault;
    verdict v;
    double seconds;
    std::string message;
};

std::vector<cell_result> &results()
{
    static std::vector<cell_result> all;
    return all;
}

std::string escape_cell(const std::string &text)
{
    std::string out;
    for (char ch : text)
        out += ch == '|' ? std::string("\\|") : ch == '\n' ? std::string(" ") : std::string(1, ch);
    return out;
}

void write_table()
{
    if (results().empty())
        return;
    std::vector<std::string> ops, fls;
    std::map<std::pair<std::string, std::string>, const cell_result *> by;
    size_t passed = 0, gave_up = 0, bad = 0, false_successes = 0, lost = 0;
    for (const cell_result &r : results()) {
        if (std::find(ops.begin(), ops.end(), r.operation) == ops.end())
            ops.push_back(r.operation);
        if (std::find(fls.begin(), fls.end(), r.fault) == fls.end())
            fls.push_back(r.fault);
        by[{r.operation, r.fault}] = &r;
        passed += !is_bad(r.v);
        gave_up += r.v == verdict::gave_up;
        bad += is_bad(r.v);
        false_successes += r.v == verdict::false_success;
        lost += r.v == verdict::data_lost;
    }
    std::ostringstream t;
    t << "# Fault matrix\n\n"
      << "Cells: " << results().size() << ", passed: " << passed << ", gave up on a transient "
      << "fault: " << gave_up << ", bad: " << bad << " (false successes: " << false_successes
      << ", data lost: " << lost << ").\n\n| operation |";
    for (const std::string &f : fls)
        t << " " << f << " |";
    t << "\n|---|";
    for (size_t i = 0; i < fls.size(); i++)
        t << "---|";
    t << "\n";
    for (const std::string &o : ops) {
        t << "| " << o << " |";
        for (const std::string &f : fls) {
            auto it = by.find({o, f});
            t << " " << (it == by.end() ? "" : verdict_name(it->second->v)) << " |";
        }
        t << "\n";
    }
    t << "\nFailures and their first line:\n\n";
    for (const cell_result &r : results())
        if (r.v != verdict::ok_success)
            t << "- " << r.operation << " / " << r.fault << ": " << verdict_name(r.v) << " ("
              << static_cast<int>(r.seconds * 10) / 10.0 << " s) " << escape_cell(r.message)
              << "\n";
    const char *dir = getenv("OSTREL_TEST_BINARY_DIR");
    std::string path = std::string(dir ? dir : ".") + "/fault-matrix.md";
    std::ofstream(path) << t.str();
    printf("%s\nwritten to %s\n", t.str().c_str(), path.c_str());
}

struct table_writer : ::testing::Environment {
    void TearDown() override { write_table(); }
};
const auto *const registered = ::testing::AddGlobalTestEnvironment(new table_writer);

std::string first_line(const std::string &text)
{
    return text.substr(0, text.find('\n'));
}

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

    std::string config_for(const ostrel_test::emulator &at)
    {
        std::string path = files_.path("config-" + std::to_string(at.port) + ".json");
        scratch::write(path, "{\"account\":\"" + at.account_text + "\",\"ca_file\":\"" +
                                 at.ca_file +
                                 "\",\"retry_max_delay_ms\":200,\"stall_timeout_s\":2}");
        return path;
    }

    // `during` runs beside the program, with the seed client pointed at the emulator.
    void run_cell(const operation &op, const fault &f) { run_cell(op, f, *emu_, *proxy_, nullptr); }

    void run_cell(const operation &op, const fault &f, const ostrel_test::emulator &emu,
                  ostrel_test::fault_proxy &proxy,
                  const std::function<void(direct &, const cell_data &)> &during)
    {
        // OSTREL_FAULT_ONLY=text runs only the faults whose name holds it
        const char *only = getenv("OSTREL_FAULT_ONLY");
        if (only && !contains(f.name, only))
            return;
        direct seed(emu);
        cell_data c;
        c.container = ostrel_test::unique_name("fm");
        aim a{op.target.method, "^/" + emu.account + "/" + c.container + op.target.path};
        std::vector<std::string> rules = f.rules ? f.rules(a) : std::vector<std::string>{};
        if (f.rules && rules.empty())
            return; // the fault has nothing to act on here
        c.data = random_bytes(op.size);
        c.local = files_.path(c.container);
        op.prepare(seed, c);

        std::vector<std::string> args;
        if (f.unreachable) {
            ostrel_test::emulator nowhere = emu;
            nowhere.port = 9;
            nowhere.account_text = nowhere.account + ":127.0.0.1:9/" + nowhere.account;
            args = {"--config", config_for(nowhere)};
        } else {
            args = {"--config", config_for(proxy.endpoint())};
        }
        if (f.expiring_token) {
            args.insert(args.end(), {"--token-command",
                                     "node '" + std::string(getenv("OSTREL_TEST_SUPPORT_DIR")) +
                                         "/mint-creds' --lifetime 2"});
        } else {
            std::string creds = files_.path("creds.json");
            scratch::write(creds, ostrel_test::mint_creds(36000));
            args.insert(args.end(), {"--creds", creds});
        }
        args.insert(args.end(), op.extra_args.begin(), op.extra_args.end());
        std::vector<std::string> command = op.args(c);
        args.insert(args.end(), command.begin(), command.end());

        for (const std::string &rule : rules)
            proxy.add_rule(rule);
        run_result r;
        std::thread program([&] { r = run_program(args, 90); });
        if (during)
            during(seed, c);
        program.join();
        proxy.clear_rules();
        if (getenv("OSTREL_FAULT_TRACE"))
            printf("%s / %s: %d\n%s%s", op.name.c_str(), f.name.c_str(), r.status, r.out.c_str(),
                   r.err.c_str());
        if (getenv("OSTREL_FAULT_TRACE"))
            for (const auto &sent : proxy.requests())
                printf("  %s %s\n", sent.method.c_str(), sent.target.c_str());
        proxy.clear_log();

        bool done = r.status == 0 && op.done(seed, c, r);
        bool intact = r.status == 0 || op.intact(seed, c);
        verdict v = judge(r, done, intact, f.transient && op.repeatable);
        results().push_back(
            {op.name, f.name, v, r.seconds, first_line(r.err.empty() ? r.out : r.err)});
        EXPECT_FALSE(is_bad(v)) << op.name << " / " << f.name << ": " << verdict_name(v)
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
            run_cell(op, f);
}

TEST_F(fault_matrix, Transfers)
{
    for (const operation &op : transfer_operations())
        for (const fault &f : faults())
            run_cell(op, f);
}

// Above 128 MiB an upload goes in blocks and a commit: a lost answer to either must leave
// the previous blob, or the new one whole.
TEST_F(fault_matrix, BlockUploads)
{
    if (!ostrel_test::large_tests_enabled())
        GTEST_SKIP() << "OSTREL_TEST_SKIP_LARGE";
    const size_t size = 128 * 1024 * 1024 + 1;
    operation block = put_operation(4, size, "128 MiB+1");
    block.name += ", a block";
    block.target.path = "/f[?].*comp=block(&|$)";
    operation commit = put_operation(4, size, "128 MiB+1");
    commit.name += ", the commit";
    commit.target.path = "/f[?].*comp=blocklist";
    for (const fault &f : faults())
        if (f.name == "answer lost") // each cell moves 256 MiB: the fault that matters most
            for (const operation &op : {block, commit})
                run_cell(op, f);
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
    }
    ~own_emulator() { script("azurite-stop", ""); }

    ostrel_test::emulator emulator() const
    {
        std::string saved = getenv("OSTREL_TEST_EMULATOR") ? getenv("OSTREL_TEST_EMULATOR") : "";
        setenv("OSTREL_TEST_EMULATOR", (state_ + "/" + name_ + "/env").c_str(), 1);
        ostrel_test::emulator emu = ostrel_test::emulator_from_env();
        setenv("OSTREL_TEST_EMULATOR", saved.c_str(), 1);
        return emu;
    }

    // All data is in memory: what the restart forgot is put back as a disk would have kept it.
    void restart(direct &seed, const cell_data &c)
    {
        int port = emulator().port;
        script("azurite-stop", "");
        script("azurite-start", "--port " + std::to_string(port));
        seed.create_container(c.container);
        seed.put_blob(c.container, c.blob, c.previous);
    }

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
    ostrel_test::emulator emu = own.emulator();
    ostrel_test::fault_proxy proxy(emu);
    fault restart{"emulator restarted", true, [](const aim &a) {
                      return std::vector<std::string>{rule(a, 1, "\"delay_ms\":8000")};
                  }};
    for (const operation &op :
         {put_operation(1, 32 * 1024, "small"), put_operation(4, 32 * 1024, "small")})
        run_cell(op, restart, emu, proxy, [&](direct &seed, const cell_data &c) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            own.restart(seed, c);
        });
}

} // namespace
} // namespace ostrel_faults
