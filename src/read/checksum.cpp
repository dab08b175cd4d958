// Reading the checksum an image is expected to have.
#include "read/checksum.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

// A list larger than this is no publisher's list (and /dev/zero never ends).
constexpr std::size_t largest_list = std::size_t{16} << 20;

struct algorithm_facts {
    digest_algorithm algorithm;
    const char* name;  // as the run writes it
    const char* tag;   // as a BSD line gives it
    std::size_t digits;
};

// Weakest first: where a list gives several for one name, the last found wins.
constexpr algorithm_facts algorithms[] = {
    {digest_algorithm::md5, "MD5", "MD5", 32},
    {digest_algorithm::sha1, "SHA-1", "SHA1", 40},
    {digest_algorithm::sha224, "SHA-224", "SHA224", 56},
    {digest_algorithm::sha256, "SHA-256", "SHA256", 64},
    {digest_algorithm::sha384, "SHA-384", "SHA384", 96},
    {digest_algorithm::sha512, "SHA-512", "SHA512", 128},
};

const algorithm_facts& facts_of(digest_algorithm algorithm)
{
    for (const algorithm_facts& facts : algorithms)
        if (facts.algorithm == algorithm)
            return facts;
    return algorithms[0];
}

int strength(digest_algorithm algorithm)
{
    return static_cast<int>(&facts_of(algorithm) - algorithms);
}

bool is_hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_hex(std::string_view text)
{
    for (char c : text)
        if (!is_hex_digit(c))
            return false;
    return !text.empty();
}

std::string lower_case(std::string_view hex)
{
    std::string lower(hex);
    for (char& c : lower)
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string_view trimmed(std::string_view text)
{
    const char* space = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A name as sha256sum writes it where it holds a backslash or a line
// break: "\\" for a backslash, "\n" and "\r" for the breaks.
std::optional<std::string> unescaped(std::string_view name)
{
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size())
            return std::nullopt;
        if (name[i] == '\\')
            plain += '\\';
        else if (name[i] == 'n')
            plain += '\n';
        else if (name[i] == 'r')
            plain += '\r';
        else
            return std::nullopt;
    }
    return plain;
}

// "TAG (name) = HEX", as sha256sum --tag and the BSDs write it.
std::optional<checksum_entry> bsd_line(std::string_view line, bool escaped)
{
    const std::size_t open = line.find(" (");
    const std::size_t close = line.rfind(") = ");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2)
        return std::nullopt;
    const std::string_view tag = line.substr(0, open);
    const std::string_view hex = line.substr(close + 4);
    for (const algorithm_facts& facts : algorithms)
        if (tag == facts.tag && hex.size() == facts.digits && is_hex(hex)) {
            std::string_view name = line.substr(open + 2, close - open - 2);
            std::optional<std::string> plain =
                escaped ? unescaped(name) : std::optional<std::string>(name);
            if (!plain || plain->empty())
                return std::nullopt;
            return checksum_entry{facts.algorithm, lower_case(hex), *plain};
        }
    return std::nullopt;
}

// "HEX  name" or "HEX *name", as sha256sum writes it.
std::optional<checksum_entry> gnu_line(std::string_view line, bool escaped)
{
    const std::size_t digits = line.find_first_of(" \t");
    if (digits == std::string_view::npos || !is_hex(line.substr(0, digits)))
        return std::nullopt;
    std::optional<digest_algorithm> algorithm = algorithm_of_digits(digits);
    if (!algorithm)
        return std::nullopt;
    std::size_t name_at = digits + 1;
    if (name_at < line.size() && (line[name_at] == ' ' || line[name_at] == '*'))
        ++name_at;
    const std::string_view name = line.substr(name_at);
    std::optional<std::string> plain = escaped ? unescaped(name) : std::optional<std::string>(name);
    if (!plain || plain->empty())
        return std::nullopt;
    return checksum_entry{*algorithm, lower_case(line.substr(0, digits)), *plain};
}

bool names_the_image(const checksum_entry& entry, const std::string& image_file)
{
    return file_name_of(entry.name) == image_file;
}

checksum_choice problem(checksum_problem what, int error_number = 0)
{
    checksum_choice choice;
    choice.problem = what;
    choice.error_number = error_number;
    return choice;
}

// The whole of the list `path`, or the errno of why it cannot be had.
std::optional<std::string> read_list(const std::string& path, int& error_number)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> list(std::fopen(path.c_str(), "r"),
                                                         std::fclose);
    if (!list) {
        error_number = errno;
        return std::nullopt;
    }
    std::string text;
    char piece[65536];
    for (;;) {
        errno = 0;
        const std::size_t n = std::fread(piece, 1, sizeof piece, list.get());
        text.append(piece, n);
        if (text.size() > largest_list) {
            error_number = EFBIG;
            return std::nullopt;
        }
        if (std::ferror(list.get())) {
            error_number = errno != 0 ? errno : EIO;
            return std::nullopt;
        }
        if (n == 0 || std::feof(list.get()))
            return text;
    }
}

}  // namespace

const char* algorithm_name(digest_algorithm algorithm)
{
    return facts_of(algorithm).name;
}

std::optional<digest_algorithm> algorithm_of_digits(std::size_t digits)
{
    for (const algorithm_facts& facts : algorithms)
        if (facts.digits == digits)
            return facts.algorithm;
    return std::nullopt;
}

std::string hex_of(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

bool as_given(const checksum_verdict& verdict)
{
    return !verdict.hex.empty() && verdict.hex == verdict.expected.hex;
}

std::string file_name_of(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<checksum_entry> parse_checksum_line(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    // A leading backslash says that the name is escaped.
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped)
        line.remove_prefix(1);
    if (std::optional<checksum_entry> entry = gnu_line(line, escaped))
        return entry;
    return bsd_line(line, escaped);
}

std::vector<checksum_entry> parse_checksum_list(std::string_view text)
{
    std::vector<checksum_entry> entries;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (std::optional<checksum_entry> entry = parse_checksum_line(text.substr(0, end)))
            entries.push_back(std::move(*entry));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return entries;
}

checksum_choice digest_given(std::string_view text)
{
    text = trimmed(text);
    if (!is_hex(text))
        return problem(checksum_problem::not_hex);
    std::optional<digest_algorithm> algorithm = algorithm_of_digits(text.size());
    if (!algorithm)
        return problem(checksum_problem::no_such_length);
    checksum_choice choice;
    choice.expected.algorithm = *algorithm;
    choice.expected.hex = lower_case(text);
    return choice;
}

checksum_choice entry_for(const std::vector<checksum_entry>& entries, const std::string& list,
                          const std::string& image_name)
{
    if (entries.empty())
        return problem(checksum_problem::list_empty);
    const std::string image_file = file_name_of(image_name);
    const checksum_entry* chosen = nullptr;
    for (const checksum_entry& entry : entries) {
        if (!names_the_image(entry, image_file))
            continue;
        for (const checksum_entry& other : entries)
            if (&other != &entry && names_the_image(other, image_file) &&
                other.algorithm == entry.algorithm && other.hex != entry.hex)
                return problem(checksum_problem::conflicting);
        if (!chosen || strength(entry.algorithm) > strength(chosen->algorithm))
            chosen = &entry;
    }
    if (!chosen && entries.size() == 1)
        chosen = &entries.front();
    if (!chosen)
        return problem(checksum_problem::no_entry);
    checksum_choice choice;
    choice.expected = expected_checksum{chosen->algorithm, chosen->hex, chosen->name, list};
    return choice;
}

checksum_choice expected_checksum_of(const std::string& argument, const std::string& image_name)
{
    struct stat st {};
    const bool names_a_file = stat(argument.c_str(), &st) == 0;
    const std::string_view text = trimmed(argument);
    // Where no file has the name, what reads as a digest, or has a
    // digest's length and no folder in it, is meant as one.
    if (!names_a_file && (is_hex(text) || (algorithm_of_digits(text.size()) &&
                                           argument.find('/') == std::string::npos)))
        return digest_given(text);
    int error_number = 0;
    std::optional<std::string> list = read_list(argument, error_number);
    if (!list)
        return problem(checksum_problem::list_unreadable, error_number);
    return entry_for(parse_checksum_list(*list), argument, image_name);
}
