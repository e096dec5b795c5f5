/* batch: command lines from a file or standard input, run in order in one
 * session, so later lines profit from what earlier ones left (a checksum
 * cached by an upload, a renewed token). */
#include "tools/cli.h"

#include <cerrno>
#include <cstring>

namespace ostrel_cli
{

namespace
{

/* One line at a time, never more than batch_line_limit bytes of it. */
class line_reader
{
  public:
    explicit line_reader(FILE *in) : in(in) {}

    /* False at the end of input. too_long: the line goes on beyond the
     * limit, and the rest of it is left unread (it may never end). Throws
     * std::runtime_error when reading fails. */
    bool next(std::string &line, bool &too_long)
    {
        line.clear();
        too_long = false;
        int c;
        while ((c = getc(in)) != EOF && c != '\n') {
            if (line.size() == batch_line_limit) {
                too_long = true;
                return true;
            }
            line += (char)c;
        }
        if (ferror(in))
            throw std::runtime_error(std::string("cannot read the batch input: ") +
                                     strerror(errno));
        return c != EOF || !line.empty() || too_long;
    }

  private:
    FILE *in;
};

struct file_closer {
    FILE *file;
    ~file_closer()
    {
        if (file != nullptr && file != stdin)
            fclose(file);
    }
};

/* The exit status of one line: 2 for a line that cannot be run. */
int run_line(const request &outer, const std::string &where, const std::string &line,
             ostrel_host::session &session, documents &docs)
{
    std::vector<std::string> words;
    std::string error = line.find('\0') != std::string::npos ? "the line holds a NUL byte"
                                                             : split_batch_line(line, words);
    if (error.empty() && words.empty())
        return 0;
    request req;
    try {
        if (!error.empty())
            throw usage_error(error);
        req = parse_batch_line(outer, words);
        if (req.command == "put" && req.local == "-" && outer.local == "-")
            throw usage_error("put - cannot read standard input: the batch comes from it");
    } catch (const usage_error &e) {
        fprintf(stderr, "%s: %s: %s\n", program_name, where.c_str(), e.what());
        return 2;
    }
    const command_spec *command = find_command(req.command);
    if (req.help || command == nullptr) {
        print_help(stdout, command);
        return 0;
    }
    int status;
    try {
        status = command->run(req, session, docs);
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s: %s\n", program_name, where.c_str(), e.what());
        status = 1;
    }
    /* keeps a line's output ahead of the next line's messages */
    fflush(stdout);
    return status;
}

} // namespace

std::string split_batch_line(const std::string &line, std::vector<std::string> &words)
{
    words.clear();
    std::string word;
    bool in_word = false;
    for (size_t pos = 0; pos < line.size(); pos++) {
        char c = line[pos];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '\'') {
            size_t close = line.find('\'', pos + 1);
            if (close == std::string::npos)
                return "unterminated ' quote";
            word.append(line, pos + 1, close - pos - 1);
            pos = close;
            in_word = true;
        } else if (c == '"') {
            for (pos++; pos < line.size() && line[pos] != '"'; pos++) {
                if (line[pos] == '\\' && pos + 1 < line.size() &&
                    (line[pos + 1] == '"' || line[pos + 1] == '\\'))
                    pos++;
                word += line[pos];
            }
            if (pos >= line.size())
                return "unterminated \" quote";
            in_word = true;
        } else if (c == '\\') {
            if (pos + 1 >= line.size())
                return "a backslash ends the line";
            word += line[++pos];
            in_word = true;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word)
        words.push_back(word);
    return "";
}

int run_batch(const request &req, ostrel_host::session &session, documents &docs)
{
    bool from_stdin = req.local == "-";
    std::string name = from_stdin ? "standard input" : escape_name(req.local);
    file_closer input{from_stdin ? stdin : fopen(req.local.c_str(), "re")};
    if (input.file == nullptr) {
        fprintf(stderr, "%s: batch: cannot read %s: %s\n", program_name, name.c_str(),
                strerror(errno));
        return 1;
    }
    line_reader lines(input.file);
    int worst = 0;
    std::string line;
    bool too_long = false;
    try {
        for (size_t number = 1; lines.next(line, too_long); number++) {
            std::string where = name + " line " + std::to_string(number);
            int status = 0;
            if (too_long) {
                /* not a list of commands: nothing after it can be trusted */
                fprintf(stderr, "%s: %s: longer than %zu bytes; batch stopped\n", program_name,
                        where.c_str(), batch_line_limit);
                worst = 2;
                break;
            } else {
                status = run_line(req, where, line, session, docs);
            }
            worst = std::max(worst, status);
            if (status != 0 && !req.keep_going)
                break;
        }
    } catch (const std::runtime_error &e) {
        fprintf(stderr, "%s: batch: %s\n", program_name, e.what());
        worst = std::max(worst, 1);
    }
    return worst;
}

} // namespace ostrel_cli
