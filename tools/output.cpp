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
    line += name ? name : "?";
    if (entry.symlink_target != nullptr)
        line += std::string(" -> ") + entry.symlink_target;
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
    std::unique_ptr<char, void (*)(void *)> text(
        json_dumps(obj.get(), JSON_COMPACT | JSON_PRESERVE_ORDER), free);
    return text ? text.get() : "{}";
}

std::string error_text(const std::string &what, const ostrel_host::error_info &error)
{
    std::string text = error.text.empty() ? "failed" : error.text;
    size_t eol = text.find('\n');
    std::string out = std::string(program_name) + ": " + what + ": " + text.substr(0, eol);
    while (eol != std::string::npos) {
        size_t next = text.find('\n', eol + 1);
        out += "\n  " + text.substr(eol + 1, next == std::string::npos ? next : next - eol - 1);
        eol = next;
    }
    return out + "\n";
}

} // namespace ostrel_cli
