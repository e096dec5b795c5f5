#include "test_support.h"

#include <curl/curl.h>
#include <jansson.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace ostrel_test
{

namespace
{

struct curl_deleter {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
struct json_deleter {
    void operator()(json_t *j) const { json_decref(j); }
};

void global_init_once()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t collect(char *data, size_t size, size_t n, void *userp)
{
    static_cast<std::string *>(userp)->append(data, size * n);
    return size * n;
}

std::string support_dir()
{
    const char *dir = std::getenv("OSTREL_TEST_SUPPORT_DIR");
    if (dir != nullptr && *dir != '\0') {
        return dir;
    }
    return OSTREL_TEST_SUPPORT_DIR_DEFAULT;
}

std::string text_of(json_t *value)
{
    const char *s = json_string_value(value);
    return s == nullptr ? std::string() : std::string(s);
}

} // namespace

struct fault_proxy::impl {
    emulator endpoint;
    pid_t pid = -1;
    int stdin_fd = -1; // closing it ends the proxy even if we die without the destructor
    int stdout_fd = -1;
    int control_port = 0;

    ~impl() { stop(); }

    void stop()
    {
        if (stdin_fd >= 0) {
            close(stdin_fd);
            stdin_fd = -1;
        }
        if (pid > 0) {
            kill(pid, SIGTERM);
            reap_or_kill();
            pid = -1;
        }
        if (stdout_fd >= 0) {
            close(stdout_fd);
            stdout_fd = -1;
        }
    }

    // It exits at once on SIGTERM; KILL only guards against a wedged node.
    void reap_or_kill()
    {
        for (int i = 0; i < 100; i++) {
            pid_t r = waitpid(pid, nullptr, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR)) {
                return;
            }
            usleep(50000);
        }
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

    void start(const emulator &upstream)
    {
        std::string script = support_dir() + "/fault_proxy.js";
        std::vector<std::string> args = {"node", script, "--exit-with-stdin", "--upstream-host",
                                         upstream.host};
        args.insert(args.end(), {"--upstream-port", std::to_string(upstream.port)});
        if (upstream.ca_file.empty() || upstream.cert_file.empty() || upstream.key_file.empty()) {
            throw std::runtime_error("fault_proxy: the emulator has no CA, certificate or key "
                                     "file (an HTTPS instance is needed)");
        }
        args.insert(args.end(), {"--ca", upstream.ca_file, "--cert", upstream.cert_file, "--key",
                                 upstream.key_file});
        std::vector<char *> argv;
        for (auto &a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        int in_pipe[2], out_pipe[2];
        if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("fault_proxy: pipe2: ") + std::strerror(errno));
        }
        stdin_fd = in_pipe[1];
        stdout_fd = out_pipe[0];

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        int rc = posix_spawnp(&pid, "node", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in_pipe[0]);
        close(out_pipe[1]);
        if (rc != 0) {
            pid = -1;
            throw std::runtime_error(std::string("fault_proxy: cannot start node: ") +
                                     std::strerror(rc));
        }

        std::string line = read_ready_line();
        std::unique_ptr<json_t, json_deleter> ready(json_loads(line.c_str(), 0, nullptr));
        int port = static_cast<int>(json_integer_value(json_object_get(ready.get(), "port")));
        control_port =
            static_cast<int>(json_integer_value(json_object_get(ready.get(), "control_port")));
        if (port <= 0 || control_port <= 0) {
            throw std::runtime_error("fault_proxy: unexpected first line from " + script + ": " +
                                     line);
        }
        endpoint = upstream;
        endpoint.port = port;
        endpoint.endpoint = upstream.host + ":" + std::to_string(port) + "/" + upstream.account;
        endpoint.account_text = upstream.account + ":" + endpoint.endpoint;
    }

    std::string read_ready_line()
    {
        std::string line;
        // A bound for a broken node installation, not a test timing: start-up takes well under 1 s.
        const int wait_ms = 60000;
        while (line.find('\n') == std::string::npos) {
            pollfd p{stdout_fd, POLLIN, 0};
            int n = poll(&p, 1, wait_ms);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                throw std::runtime_error("fault_proxy: no ready line from the proxy");
            }
            char buf[256];
            ssize_t got = read(stdout_fd, buf, sizeof(buf));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                throw std::runtime_error("fault_proxy: the proxy exited before it was ready "
                                         "(see its message above)");
            }
            line.append(buf, static_cast<size_t>(got));
        }
        return line.substr(0, line.find('\n'));
    }

    std::string control(const char *method, const std::string &path, const std::string *body)
    {
        std::unique_ptr<CURL, curl_deleter> h(curl_easy_init());
        if (!h) {
            throw std::runtime_error("fault_proxy: curl_easy_init failed");
        }
        std::string url = "http://127.0.0.1:" + std::to_string(control_port) + path;
        std::string response;
        curl_slist *headers = nullptr;
        headers = curl_slist_append(headers, "Content-Type: application/json");
        std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_guard(
            headers, &curl_slist_free_all);
        curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(h.get(), CURLOPT_NOPROXY, "*");
        curl_easy_setopt(h.get(), CURLOPT_CUSTOMREQUEST, method);
        curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &response);
        if (body != nullptr) {
            curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, body->c_str());
            curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
        }
        CURLcode rc = curl_easy_perform(h.get());
        if (rc != CURLE_OK) {
            throw std::runtime_error(std::string("fault_proxy: control request ") + method + " " +
                                     path + " failed: " + curl_easy_strerror(rc));
        }
        long status = 0;
        curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) {
            throw std::runtime_error(std::string("fault_proxy: ") + method + " " + path + " -> " +
                                     std::to_string(status) + ": " + response);
        }
        return response;
    }
};

fault_proxy::fault_proxy(const emulator &upstream) : impl_(new impl)
{
    global_init_once();
    impl_->start(upstream);
}

fault_proxy::~fault_proxy() = default;

const emulator &fault_proxy::endpoint() const
{
    return impl_->endpoint;
}

void fault_proxy::add_rule(const std::string &json)
{
    impl_->control("POST", "/rules", &json);
}
void fault_proxy::clear_rules()
{
    impl_->control("DELETE", "/rules", nullptr);
}
void fault_proxy::clear_log()
{
    impl_->control("DELETE", "/requests", nullptr);
}

std::vector<recorded_request> fault_proxy::requests()
{
    std::string text = impl_->control("GET", "/requests", nullptr);
    json_error_t err;
    std::unique_ptr<json_t, json_deleter> root(json_loadb(text.data(), text.size(), 0, &err));
    if (!root || !json_is_array(root.get())) {
        throw std::runtime_error(std::string("fault_proxy: bad request log: ") + err.text);
    }
    std::vector<recorded_request> out;
    size_t i;
    json_t *item;
    json_array_foreach(root.get(), i, item)
    {
        recorded_request r;
        r.method = text_of(json_object_get(item, "method"));
        r.target = text_of(json_object_get(item, "target"));
        r.body_size = static_cast<size_t>(json_integer_value(json_object_get(item, "body_size")));
        size_t j;
        json_t *pair;
        json_array_foreach(json_object_get(item, "headers"), j, pair)
        {
            r.headers.emplace_back(text_of(json_array_get(pair, 0)),
                                   text_of(json_array_get(pair, 1)));
        }
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace ostrel_test
