#pragma once

// A reader for the key-values text format of Steam's configuration files: nested named objects holding
// string attributes, with comments, quoted and unquoted tokens, backslash escapes, platform conditions
// and include directives. Standard C++ only; text is handled as bytes, without character-set
// conversion. Errors are std::runtime_error.

#include <istream>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vdf {

// One node of the tree: its key, the pairs written directly in it and the objects nested in it.
// Duplicates are no error: the first key or child name wins.
template <typename CharT> struct basic_object
{
    using string_type = std::basic_string<CharT>;

    string_type name;
    std::unordered_map<string_type, string_type> attributes;
    std::unordered_map<string_type, std::shared_ptr<basic_object>> children;

    basic_object() = default;
    basic_object(const basic_object &) = default;
    basic_object(basic_object &&) noexcept = default;
    basic_object &operator=(const basic_object &) = default;
    basic_object &operator=(basic_object &&) noexcept = default;

    // Children are released level by level, so that a tree nested a hundred thousand deep does not
    // exhaust the call stack when it goes.
    ~basic_object()
    {
        std::vector<std::shared_ptr<basic_object>> pending;
        release_children_into(pending);
        while (!pending.empty()) {
            std::shared_ptr<basic_object> node = std::move(pending.back());
            pending.pop_back();
            if (node.use_count() == 1)
                node->release_children_into(pending);
        }
    }

    void insert_attribute(string_type key, string_type value)
    {
        attributes.try_emplace(std::move(key), std::move(value));
    }

    // Takes a finished object over; one whose name is taken is destroyed.
    void insert_child(std::unique_ptr<basic_object> child)
    {
        // The handle is made only when the name is free; otherwise `child` still owns the object
        // and destroys it on return.
        children.try_emplace(child->name, std::move(child));
    }

private:
    void release_children_into(std::vector<std::shared_ptr<basic_object>> &pending)
    {
        for (auto &child : children)
            pending.push_back(std::move(child.second));
        children.clear();
    }
};

using object = basic_object<char>;

struct read_options
{
    bool unescape = false;          // apply the escape rule to keys and values
    bool ignore_conditions = false; // no condition name matches the platform
    bool skip_includes = false;     // drop "#include" and "#base" pairs without reading files
};

// No text read is larger: a key-values file is a few kilobytes, and a larger one is made, not grown.
constexpr std::size_t max_text_size = 64 * 1024 * 1024;

// The whole content of a stream. Fails when the stream is not open or holds more than max_text_size.
std::string read_all(std::istream &input);

// The tree of the text [first, last): an empty object when it holds none, the object itself when it
// holds one, otherwise an unnamed object with the top-level objects as children.
object parse(const char *first, const char *last, const read_options &options);

// The top-level objects of [first, last) in the order they were finished. `open_includes` holds the
// canonical paths of the files included along the current chain; it cuts include cycles, however a
// path is spelt.
std::vector<std::unique_ptr<object>> parse_roots(const char *first, const char *last,
                                                 std::unordered_set<std::string> &open_includes,
                                                 const read_options &options);

} // namespace vdf
