#include "direct.h"

#include <curl/curl.h>

#include <stdexcept>

namespace ostrel_faults
{

namespace
{

size_t collect(char *data, size_t size, size_t count, void *out)
{
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

struct upload {
    const std::string *body;
    size_t at = 0;
};

size_t supply(char *buffer, size_t size, size_t count, void *in)
{
    auto *up = static_cast<upload *>(in);
    size_t n = std::min(size * count, up->body->size() - up->at);
    up->body->copy(buffer, n, up->at);
    up->at += n;
    return n;
}

} // namespace

direct::direct(const ostrel_test::emulator &emu) : emu_(emu), token_(ostrel_test::mint_token(36000))
{
}

answer direct::send(const std::string &method, const std::string &path, const std::string &body,
                    const std::string &extra_headers)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        throw std::runtime_error("curl_easy_init failed");
    std::string url =
        "https://" + emu_.host + ":" + std::to_string(emu_.port) + "/" + emu_.account + path;
    curl_slist *headers = nullptr;
    std::string all =
        "Authorization: Bearer " + token_ + "\nx-ms-version: 2018-11-09\nExpect:\n" + extra_headers;
    for (size_t at = 0, end; at < all.size(); at = end + 1) {
        end = std::min(all.find('\n', at), all.size());
        headers = curl_slist_append(headers, all.substr(at, end - at).c_str());
    }
    answer a;
    upload up{&body};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, emu_.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &a.headers);
    if (method == "PUT") {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, supply);
        curl_easy_setopt(curl, CURLOPT_READDATA, &up);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return a;
}

namespace
{

void expect_created(const answer &a, const std::string &what)
{
    if (a.status != 201)
        throw std::runtime_error(what + ": status " + std::to_string(a.status) + " " + a.body);
}

} // namespace

void direct::create_container(const std::string &container)
{
    expect_created(send("PUT", "/" + container + "?restype=container"), "create " + container);
}

void direct::put_blob(const std::string &container, const std::string &name,
                      const std::string &data)
{
    expect_created(send("PUT", "/" + container + "/" + name, data, "x-ms-blob-type: BlockBlob"),
                   "put " + name);
}

void direct::put_marker(const std::string &container, const std::string &dir)
{
    expect_created(send("PUT", "/" + container + "/" + dir, "",
                        "x-ms-blob-type: BlockBlob\nx-ms-meta-hdi_isfolder: true"),
                   "marker " + dir);
}

std::optional<std::string> direct::blob(const std::string &container, const std::string &name)
{
    answer a = send("GET", "/" + container + "/" + name);
    if (a.status == 404)
        return std::nullopt;
    if (a.status != 200)
        throw std::runtime_error("read " + name + ": status " + std::to_string(a.status));
    return a.body;
}

bool direct::is_marker(const std::string &container, const std::string &name)
{
    answer a = send("HEAD", "/" + container + "/" + name);
    return a.status == 200 && a.headers.find("hdi_isfolder: true") != std::string::npos;
}

bool direct::container_exists(const std::string &container)
{
    long status = send("HEAD", "/" + container + "?restype=container").status;
    if (status != 200 && status != 404)
        throw std::runtime_error("container " + container + ": status " + std::to_string(status));
    return status == 200;
}

} // namespace ostrel_faults
