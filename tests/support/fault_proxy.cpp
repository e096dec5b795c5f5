#include "http_call.h"
#include "test_support.h"

#include <jansson.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace ostrel_test
{

namespace
{

struct json_deleter {
    void operator()(json_t *j) const { json_decref(j); }
};
using json_ptr = std::unique_ptr<json_t, json_deleter>;

std::string text_of(json_t *value)
{
    const char *s = json_string_value(value);
    return s == nullptr ? std::string() : std::string(s);
}

long number_of(json_t *object, const char *key)
{
    return static_cast<long>(json_integer_value(json_object_get(object, key)));
}

} // namespace

struct fault_proxy::impl {
    emulator endpoint;
    FILE *out = nullptr; // the proxy's standard output
    pid_t pid = 0;
    std::string control_url;

    ~impl()
    {
        if (pid > 0)
            kill(pid, SIGTERM);
        if (out != nullptr)
            pclose(out);
    }

    std::string control(const std::string &method, const std::string &path,
                        const std::string &body = "")
    {
        http_answer a = http_call(method, control_url + path, {}, body);
        if (a.status != 200)
            throw std::runtime_error("fault_proxy: " + method + " " + path + " -> " +
                                     std::to_string(a.status) + ": " + a.body);
        return a.body;
    }
};

fault_proxy::fault_proxy(const emulator &upstream) : impl_(new impl)
{
    if (upstream.ca_file.empty() || upstream.cert_file.empty() || upstream.key_file.empty())
        throw std::runtime_error("fault_proxy: the emulator has no CA, certificate or key file "
                                 "(an HTTPS instance is needed)");
    const char *dir = std::getenv("OSTREL_TEST_SUPPORT_DIR");
    std::string script =
        std::string(dir && *dir ? dir : OSTREL_TEST_SUPPORT_DIR_DEFAULT) + "/fault_proxy.js";
    // exec: the proxy is our child, and it ends when we do.
    std::string command = "exec node '" + script + "' --upstream-host " + upstream.host +
                          " --upstream-port " + std::to_string(upstream.port) + " --ca '" +
                          upstream.ca_file + "' --cert '" + upstream.cert_file + "' --key '" +
                          upstream.key_file + "'";
    impl_->out = popen(command.c_str(), "re");
    char line[256];
    if (impl_->out == nullptr || fgets(line, sizeof line, impl_->out) == nullptr)
        throw std::runtime_error("fault_proxy: " + script + " did not start (see its message)");
    json_ptr ready(json_loads(line, 0, nullptr));
    impl_->pid = static_cast<pid_t>(number_of(ready.get(), "pid"));
    long port = number_of(ready.get(), "port"),
         control_port = number_of(ready.get(), "control_port");
    if (impl_->pid <= 0 || port <= 0 || control_port <= 0)
        throw std::runtime_error("fault_proxy: unexpected first line from " + script + ": " + line);
    impl_->control_url = "http://127.0.0.1:" + std::to_string(control_port);
    emulator &e = impl_->endpoint = upstream;
    e.port = static_cast<int>(port);
    e.endpoint = upstream.host + ":" + std::to_string(port) + "/" + upstream.account;
    e.account_text = upstream.account + ":" + e.endpoint;
}

fault_proxy::~fault_proxy() = default;

const emulator &fault_proxy::endpoint() const
{
    return impl_->endpoint;
}

void fault_proxy::add_rule(const std::string &json)
{
    impl_->control("POST", "/rules", json);
}

void fault_proxy::clear_rules()
{
    impl_->control("DELETE", "/rules");
}

void fault_proxy::clear_log()
{
    impl_->control("DELETE", "/requests");
}

std::vector<recorded_request> fault_proxy::requests()
{
    std::string text = impl_->control("GET", "/requests");
    json_ptr root(json_loadb(text.data(), text.size(), 0, nullptr));
    if (!json_is_array(root.get()))
        throw std::runtime_error("fault_proxy: bad request log: " + text);
    std::vector<recorded_request> out;
    size_t i, j;
    json_t *item, *pair;
    json_array_foreach(root.get(), i, item)
    {
        recorded_request r;
        r.method = text_of(json_object_get(item, "method"));
        r.target = text_of(json_object_get(item, "target"));
        r.body_size = static_cast<size_t>(number_of(item, "body_size"));
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
