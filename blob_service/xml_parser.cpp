#include "blob_service/xml_parser.h"

#include <cerrno>
#include <cstring>

#include <tinyxml2.h>

namespace azure::blob_service
{

namespace
{

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

std::string parse_text(const XMLElement *element, const char *name)
{
    const XMLElement *child = element ? element->FirstChildElement(name) : nullptr;
    if (!child || !child->FirstChild() || !child->FirstChild()->ToText()) {
        return {};
    }
    return child->FirstChild()->Value();
}

// Empty text reads as 0; anything but a decimal number is refused.
bool parse_long(const XMLElement *element, const char *name, uint64_t &value)
{
    std::string text = parse_text(element, name);
    value = 0;
    if (text.empty()) {
        return true;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    errno = 0;
    value = strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

lease_status to_lease_status(const std::string &text)
{
    return text == "locked" ? lease_status::locked : lease_status::unlocked;
}

lease_state to_lease_state(const std::string &text)
{
    if (text == "leased") {
        return lease_state::leased;
    }
    if (text == "expired") {
        return lease_state::expired;
    }
    if (text == "breaking") {
        return lease_state::breaking;
    }
    if (text == "broken") {
        return lease_state::broken;
    }
    return lease_state::available;
}

lease_duration to_lease_duration(const std::string &text)
{
    if (text == "infinite") {
        return lease_duration::infinite;
    }
    if (text == "fixed") {
        return lease_duration::fixed;
    }
    return lease_duration::none;
}

metadata_list parse_blob_metadata(const XMLElement *metadata)
{
    metadata_list pairs;
    for (const XMLElement *e = metadata ? metadata->FirstChildElement() : nullptr; e;
         e = e->NextSiblingElement()) {
        const char *text = e->GetText();
        pairs.emplace_back(e->Name(), text ? text : "");
    }
    return pairs;
}

storage_error parse_failure(const std::string &what)
{
    storage_error error;
    error.kind = error_kind::parse;
    error.message = what;
    return error;
}

// Parses `xml` and returns its root element named `name`, or null with `error` filled.
const XMLElement *document_root(XMLDocument &doc, const std::string &xml, const char *name,
                                storage_error &error)
{
    if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
        error = parse_failure(std::string("answer body is not well-formed XML: ") +
                              XMLDocument::ErrorIDToName(doc.ErrorID()));
        return nullptr;
    }
    const XMLElement *root = doc.RootElement();
    if (!root || strcmp(root->Name(), name) != 0) {
        error = parse_failure(std::string("answer body has no ") + name + " root element");
        return nullptr;
    }
    return root;
}

bool parse_blob_item(const XMLElement *element, bool is_directory, list_blobs_segmented_item &item)
{
    item.name = parse_text(element, "Name");
    item.is_directory = is_directory;
    if (is_directory) {
        return true;
    }
    const XMLElement *properties = element->FirstChildElement("Properties");
    item.etag = parse_text(properties, "Etag");
    item.last_modified = parse_text(properties, "Last-Modified");
    item.cache_control = parse_text(properties, "Cache-Control");
    item.content_encoding = parse_text(properties, "Content-Encoding");
    item.content_language = parse_text(properties, "Content-Language");
    item.content_type = parse_text(properties, "Content-Type");
    item.content_md5 = parse_text(properties, "Content-MD5");
    if (!parse_long(properties, "Content-Length", item.content_length)) {
        return false;
    }
    item.status = to_lease_status(parse_text(properties, "LeaseStatus"));
    item.state = to_lease_state(parse_text(properties, "LeaseState"));
    item.duration = to_lease_duration(parse_text(properties, "LeaseDuration"));
    item.metadata = parse_blob_metadata(element->FirstChildElement("Metadata"));
    return true;
}

// The frame every listing page shares: the EnumerationResults root and the continuation
// marker. `fill` reads the entries; it returns false with `error` set on a malformed one.
template <typename Response, typename Fill>
storage_outcome<Response> parse_listing(const std::string &xml, Fill &&fill)
{
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    storage_error error;
    const XMLElement *root = document_root(doc, xml, "EnumerationResults", error);
    if (!root) {
        return storage_outcome<Response>(error);
    }
    Response response;
    response.next_marker = parse_text(root, "NextMarker");
    if (!fill(root, response, error)) {
        return storage_outcome<Response>(std::move(error));
    }
    return storage_outcome<Response>(std::move(response));
}

} // namespace

storage_error tinyxml2_parser::parse_storage_error(const std::string &xml) const
{
    storage_error error;
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (xml.empty() || doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
        return error;
    }
    const XMLElement *root = doc.RootElement();
    if (!root || strcmp(root->Name(), "Error") != 0) {
        return error;
    }
    error.code_name = parse_text(root, "Code");
    error.message = parse_text(root, "Message");
    for (const XMLElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (strcmp(e->Name(), "Code") == 0 || strcmp(e->Name(), "Message") == 0) {
            continue;
        }
        const char *text = e->GetText();
        error.details.emplace_back(e->Name(), text ? text : "");
    }
    return error;
}

storage_outcome<list_containers_segmented_response>
tinyxml2_parser::parse_list_containers_segmented_response(const std::string &xml) const
{
    return parse_listing<list_containers_segmented_response>(
        xml,
        [](const XMLElement *root, list_containers_segmented_response &response, storage_error &) {
            const XMLElement *containers = root->FirstChildElement("Containers");
            for (const XMLElement *e = containers ? containers->FirstChildElement("Container")
                                                  : nullptr;
                 e; e = e->NextSiblingElement("Container")) {
                list_containers_item item;
                item.name = parse_text(e, "Name");
                const XMLElement *properties = e->FirstChildElement("Properties");
                item.etag = parse_text(properties, "Etag");
                item.last_modified = parse_text(properties, "Last-Modified");
                item.status = to_lease_status(parse_text(properties, "LeaseStatus"));
                item.state = to_lease_state(parse_text(properties, "LeaseState"));
                item.duration = to_lease_duration(parse_text(properties, "LeaseDuration"));
                response.containers.push_back(std::move(item));
            }
            return true;
        });
}

storage_outcome<list_blobs_segmented_response>
tinyxml2_parser::parse_list_blobs_segmented_response(const std::string &xml) const
{
    return parse_listing<list_blobs_segmented_response>(
        xml,
        [](const XMLElement *root, list_blobs_segmented_response &response, storage_error &error) {
            const XMLElement *blobs = root->FirstChildElement("Blobs");
            // Blobs first, then prefixes, whatever their order in the page.
            for (const char *kind : {"Blob", "BlobPrefix"}) {
                bool is_directory = strcmp(kind, "BlobPrefix") == 0;
                for (const XMLElement *e = blobs ? blobs->FirstChildElement(kind) : nullptr; e;
                     e = e->NextSiblingElement(kind)) {
                    list_blobs_segmented_item item;
                    if (!parse_blob_item(e, is_directory, item)) {
                        error = parse_failure("listing has a Content-Length that is not a number");
                        return false;
                    }
                    response.blobs.push_back(std::move(item));
                }
            }
            return true;
        });
}

storage_outcome<block_list_response>
tinyxml2_parser::parse_block_list_response(const std::string &xml) const
{
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    storage_error error;
    const XMLElement *root = document_root(doc, xml, "BlockList", error);
    if (!root) {
        return storage_outcome<block_list_response>(std::move(error));
    }
    block_list_response response;
    const XMLElement *committed = root->FirstChildElement("CommittedBlocks");
    for (const XMLElement *e = committed ? committed->FirstChildElement("Block") : nullptr; e;
         e = e->NextSiblingElement("Block")) {
        response.committed.push_back(parse_text(e, "Name"));
    }
    return storage_outcome<block_list_response>(std::move(response));
}

} // namespace azure::blob_service
