/* How entries and errors look to a user. */
#include "tools/cli.h"

#include <ctime>
#include <jansson.h>
#include <memory>

namespace ostrel_cli
{

std::string mode_string(int mode)
{
    std::string text(10, '-');
    switch (mode & 0170000) {
    case 0040000:
        text[0] = 'd';
        break;
    case 0120000:
        text[0] = 'l';
        break;
    case 0100000:
        break;
    default:
        text[0] = '?';
    }
    const char *letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; bit++) {
        if (mode & (0400 >> bit))
            text[(size_t)bit + 1] = letters[bit];
    }
    return text;
}

std::string time_text(int64_t seconds)
{
    if (seconds < 0)
        return "-";
    time_t t = (time_t)seconds;
    struct tm local;
    if (localtime_r(&t, &local) == nullptr)
        return "-";
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local);
    return buf;
}

std::string long_line(const ostrel_gfs_stat_t &entry, const char *name)
{
    char head[128];
    snprintf(head, sizeof head, "%s %3d %5u %5u %12lld %16s ", mode_string(entry.mode).c_str(),
             entry.nlink, (unsigned)entry.uid, (unsigned)entry.gid, (long long)entry.size,
             time_text(entry.mtime).c_str());
    std::string line = head;
    line += name ? escape_name(name) : "?";
    if (entry.symlink_target != nullptr)
        line += " -> " + escape_name(entry.symlink_target);
    return line;
}

std::string json_line(const ostrel_gfs_stat_t &entry, const char *name)
{
    std::unique_ptr<json_t, void (*)(json_t *)> obj(json_object(), json_decref);
    json_t *name_value = json_string(name ? name : "");
    /* a name that is not UTF-8 still has to show up */
    if (name_value == nullptr)
        name_value = json_string("\xEF\xBF\xBD");
    json_object_set_new(obj.get(), "name", name_value);
    json_object_set_new(obj.get(), "mode", json_integer(entry.mode));
    json_object_set_new(obj.get(), "nlink", json_integer(entry.nlink));
    json_object_set_new(obj.get(), "uid", json_integer(entry.uid));
    json_object_set_new(obj.get(), "gid", json_integer(entry.gid));
    json_object_set_new(obj.get(), "size", json_integer(entry.size));
    json_object_set_new(obj.get(), "atime", json_integer(entry.atime));
    json_object_set_new(obj.get(), "ctime", json_integer(entry.ctime));
    json_object_set_new(obj.get(), "mtime", json_integer(entry.mtime));
    json_object_set_new(obj.get(), "dev", json_integer(entry.dev));
    json_object_set_new(obj.get(), "ino", json_integer(entry.ino));
    return json_text(obj.get());
}

std::string json_text(const json_t *value)
{
    std::unique_ptr<char, void (*)(void *)> text(
        json_dumps(value, JSON_COMPACT | JSON_PRESERVE_ORDER), free);
    if (!text)
        return "{}";
    /* both can only stand inside strings, where \u escapes mean the same */
    std::string out;
    for (const char *p = text.get(); *p != '\0'; p++) {
        unsigned char c = (unsigned char)*p;
        unsigned char next = (unsigned char)p[1];
        char escaped[8];
        if (c == 0x7f) {
            out += "\\u007f";
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            snprintf(escaped, sizeof escaped, "\\u%04x", next);
            out += escaped;
            p++;
        } else {
            out += (char)c;
        }
    }
    return out;
}

namespace
{

/* Length of the valid UTF-8 sequence at text[pos] that is not a C1
 * control, or 0. */
size_t printable_sequence(const std::string &text, size_t pos)
{
    unsigned char c = (unsigned char)text[pos];
    size_t length = c < 0x80                 ? 1
                    : c >= 0xc2 && c <= 0xdf ? 2
                    : c >= 0xe0 && c <= 0xef ? 3
                    : c >= 0xf0 && c <= 0xf4 ? 4
                                             : 0;
    if (length == 0 || pos + length > text.size())
        return 0;
    if (length == 1)
        return c >= 0x20 && c != 0x7f ? 1 : 0;
    for (size_t i = 1; i < length; i++) {
        if (((unsigned char)text[pos + i] & 0xc0) != 0x80)
            return 0;
    }
    unsigned char second = (unsigned char)text[pos + 1];
    if ((c == 0xc2 && second <= 0x9f) || /* C1 controls */
        (c == 0xe0 && second < 0xa0) ||  /* overlong */
        (c == 0xed && second > 0x9f) ||  /* surrogates */
        (c == 0xf0 && second < 0x90) ||  /* overlong */
        (c == 0xf4 && second > 0x8f))    /* beyond U+10FFFF */
        return 0;
    return length;
}

/* Splits at the plug-in's line breaks, except inside the user's path. */
std::vector<std::string> error_lines(const std::string &text, const std::string &path)
{
    std::vector<std::string> lines(1);
    std::string raw;
    for (size_t pos = 0; pos < text.size();) {
        if (!path.empty() && text.compare(pos, path.size(), path) == 0) {
            lines.back() += escape_name(raw) + escape_name(path);
            raw.clear();
            pos += path.size();
        } else if (text[pos] == '\n') {
            lines.back() += escape_name(raw);
            raw.clear();
            lines.emplace_back();
            pos++;
        } else {
            raw += text[pos++];
        }
    }
    lines.back() += escape_name(raw);
    return lines;
}

} // namespace

std::string escape_name(const std::string &name)
{
    std::string out;
    for (size_t pos = 0; pos < name.size();) {
        size_t length = printable_sequence(name, pos);
        char c = name[pos];
        if (c == '\\') {
            out += "\\\\";
        } else if (length > 0) {
            out.append(name, pos, length);
            pos += length;
            continue;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)c);
            out += hex;
        }
        pos++;
    }
    return out;
}

std::string error_text(const std::string &what, const ostrel_host::error_info &error,
                       const std::string &path)
{
    std::string detail = error_detail(error, path);
    return std::string(program_name) + ": " + what + ": " + detail.substr(2);
}

std::string error_detail(const ostrel_host::error_info &error, const std::string &path)
{
    /* the plug-in quotes a path with or without its leading "/" */
    std::string key = path.size() > 1 && path[0] == '/' ? path.substr(1) : path;
    std::string out;
    for (const std::string &line : error_lines(error.text.empty() ? "failed" : error.text, key))
        out += "  " + line + "\n";
    return out;
}

void print_failure(const request &req, const ostrel_host::error_info &error)
{
    fputs(error_text(req.command + " " + escape_name(req.path), error, req.path).c_str(), stderr);
}

} // namespace ostrel_cli
