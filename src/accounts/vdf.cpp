#include "accounts/vdf.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace vdf {
namespace {

// A chain of includes deeper than this is refused rather than followed until the stack runs out.
constexpr std::size_t kMaxIncludeDepth = 32;
// Files one read may open through includes in all: a file that includes another several times, each
// of which does the same, would otherwise multiply the work with every level.
constexpr std::size_t kMaxIncludedFiles = 256;

bool is_space(char c)
{
    return c == ' ' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\t';
}

// Applies the escape rule in place: \" becomes ", then every run of two or more backslashes becomes
// one. A backslash before any other character stays. Most tokens hold no backslash at all.
void unescape(std::string &text)
{
    if (text.find('\\') == std::string::npos)
        return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '"')
            ++i;
        text[out++] = text[i];
    }
    text.resize(out);
    out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[out++] = text[i];
        if (text[i] == '\\')
            while (i + 1 < text.size() && text[i + 1] == '\\')
                ++i;
    }
    text.resize(out);
}

class reader
{
public:
    reader(const char *first, const char *last, std::unordered_set<std::string> &open_includes,
           std::size_t &files_opened, const read_options &options)
        : p(first), last(last), open_includes(open_includes), files_opened(files_opened), options(options)
    {
    }

    std::vector<std::unique_ptr<object>> read();

private:
    // Where a token would begin, a NUL ends the text as the end itself does.
    bool ended() const { return p == last || *p == '\0'; }
    void skip_whitespace()
    {
        while (p != last && is_space(*p))
            ++p;
    }
    void skip_comment();
    bool condition_holds();
    std::string read_token();
    void finish_object();
    void include(const std::string &path);

    const char *p;
    const char *const last;
    std::unordered_set<std::string> &open_includes;
    std::size_t &files_opened; // shared by every reader of one read
    const read_options &options;

    std::unique_ptr<object> current;
    // Enclosing unfinished objects: nesting depth costs heap, never call stack.
    std::vector<std::unique_ptr<object>> stack;
    std::vector<std::unique_ptr<object>> roots;
};

// At a "/" where a token would begin.
void reader::skip_comment()
{
    if (p + 1 == last) {
        p = last;
    } else if (p[1] == '/') {
        p += 2;
        while (p != last && *p != '\n')
            ++p;
    } else if (p[1] == '*') {
        const char *q = p + 2;
        while (q != last && !(*q == '*' && q + 1 != last && q[1] == '/'))
            ++q;
        p = q == last ? last : q + 2;
    } else {
        ++p;
    }
}

// A "[name]" or "[!name]" after a key or value; absent, it holds.
bool reader::condition_holds()
{
    skip_whitespace();
    if (p == last || *p != '[')
        return true;
    const char *start = p + 1;
    const char *end = start;
    while (end != last && *end != ']')
        ++end;
    std::string name(start, end);
    const bool negated = !name.empty() && name.front() == '!';
    if (negated)
        name.erase(0, 1);
    const bool matches = !options.ignore_conditions && (name == "$WIN32" || name == "$WINDOWS");
    p = end == last ? last : end + 1;
    return matches != negated;
}

std::string reader::read_token()
{
    const char *const first = p;
    // A delimiter after an odd run of backslashes is escaped; the token's first character never counts.
    const auto escaped = [first](const char *at) {
        std::size_t backslashes = 0;
        for (const char *q = at - 1; q > first && *q == '\\'; --q)
            ++backslashes;
        return backslashes % 2 == 1;
    };
    std::string token;
    if (*first == '"') {
        const char *q = first + 1;
        for (;;) {
            q = static_cast<const char *>(std::memchr(q, '"', static_cast<std::size_t>(last - q)));
            if (!q || !escaped(q))
                break;
            ++q;
        }
        if (!q)
            throw std::runtime_error("quote was opened but not closed.");
        token.assign(first + 1, q);
        p = q + 1;
    } else {
        const char *q = first + 1;
        while (q != last && !(is_space(*q) && !escaped(q)))
            ++q;
        token.assign(first, q);
        p = q;
    }
    if (options.unescape)
        unescape(token);
    return token;
}

void reader::finish_object()
{
    if (!stack.empty()) {
        std::unique_ptr<object> parent = std::move(stack.back());
        stack.pop_back();
        parent->insert_child(std::move(current));
        current = std::move(parent);
    } else {
        roots.push_back(std::move(current));
    }
}

void reader::include(const std::string &path)
{
    // The cycle check compares the file itself, not its spelling: "a.vdf" and "./a.vdf" are one file.
    std::error_code error;
    const std::filesystem::path file_path = std::filesystem::canonical(std::filesystem::u8path(path), error);
    if (error)
        throw std::runtime_error("cannot open included file \"" + path + "\"");
    const std::string key = file_path.u8string();
    if (open_includes.count(key) != 0)
        return; // a cycle: this file is already being read further up the chain
    if (open_includes.size() >= kMaxIncludeDepth)
        throw std::runtime_error("includes nested more than " + std::to_string(kMaxIncludeDepth) +
                                 " levels deep at \"" + path + "\"");
    if (files_opened >= kMaxIncludedFiles)
        throw std::runtime_error("more than " + std::to_string(kMaxIncludedFiles) +
                                 " included files in one read at \"" + path + "\"");
    ++files_opened;
    // A FIFO or a device under an included name would be waited on for ever.
    if (!std::filesystem::is_regular_file(file_path, error))
        throw std::runtime_error("cannot open included file \"" + path + "\"");
    std::ifstream file(file_path);
    if (!file.is_open())
        throw std::runtime_error("cannot open included file \"" + path + "\"");
    const std::string content = read_all(file);
    open_includes.insert(key);
    std::vector<std::unique_ptr<object>> included =
        reader(content.data(), content.data() + content.size(), open_includes, files_opened, options).read();
    open_includes.erase(key);
    for (std::unique_ptr<object> &child : included) {
        if (current)
            current->insert_child(std::move(child));
        else
            roots.push_back(std::move(child));
    }
}

std::vector<std::unique_ptr<object>> reader::read()
{
    while (!ended()) {
        skip_whitespace();
        if (ended())
            break;
        if (*p == '/') {
            skip_comment();
            continue;
        }
        if (*p == '}') {
            ++p;
            // A "}" with no object open closes nothing and is passed over.
            if (current)
                finish_object();
            continue;
        }

        std::string key = read_token();
        skip_whitespace();
        // A condition right after a key that does not hold drops the key alone; what follows is read
        // as the next key.
        if (!condition_holds())
            continue;
        if (p != last && *p == '/') {
            while (p != last && *p == '/') {
                skip_comment();
                if (ended() || *p == '}')
                    throw std::runtime_error("key declared, but no value");
                skip_whitespace();
                if (ended() || *p == '}')
                    throw std::runtime_error("key declared, but no value");
            }
        } else if (ended()) {
            throw std::runtime_error("key declared, but no value");
        }

        if (*p == '{') {
            ++p;
            if (current)
                stack.push_back(std::move(current));
            current = std::make_unique<object>();
            current->name = std::move(key);
            continue;
        }

        std::string value = read_token();
        if (!condition_holds())
            continue;
        if (key == "#include" || key == "#base") {
            if (!options.skip_includes)
                include(value);
        } else if (current) {
            current->insert_attribute(std::move(key), std::move(value));
        }
        // A pair outside every object belongs to nothing and is passed over.
    }
    // Objects still open at the end are discarded with their content.
    return std::move(roots);
}

} // namespace

std::string read_all(std::istream &input)
{
    input.seekg(0, std::ios::end);
    const std::streamoff size = input.tellg();
    if (size < 0)
        throw std::runtime_error("cannot read the stream: it is not open");
    // A folder opened as a file reports a size no file has.
    if (static_cast<unsigned long long>(size) >= std::string().max_size() / 2)
        throw std::runtime_error("cannot read the stream: it reports no usable size");
    if (static_cast<unsigned long long>(size) > max_text_size)
        throw std::runtime_error("the text is larger than 64 MiB");
    std::string content(static_cast<std::size_t>(size), '\0');
    if (size == 0)
        return content;
    input.seekg(0, std::ios::beg);
    // Fewer characters may arrive (line ends translated); the NUL tail then ends the text.
    input.read(&content[0], size);
    input.clear();
    return content;
}

std::vector<std::unique_ptr<object>> parse_roots(const char *first, const char *last,
                                                 std::unordered_set<std::string> &open_includes,
                                                 const read_options &options)
{
    std::size_t files_opened = 0;
    return reader(first, last, open_includes, files_opened, options).read();
}

object parse(const char *first, const char *last, const read_options &options)
{
    std::unordered_set<std::string> open_includes;
    std::vector<std::unique_ptr<object>> roots = parse_roots(first, last, open_includes, options);
    if (roots.empty())
        return object();
    if (roots.size() == 1)
        return std::move(*roots.front());
    object root;
    for (std::unique_ptr<object> &top : roots)
        root.insert_child(std::move(top));
    return root;
}

} // namespace vdf
