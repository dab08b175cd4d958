// Parses the command line into the run settings.
#include "cli/command_line.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <new>

#include "exit_status.h"
#include "platform.h"

namespace {

constexpr const char* usage_text =
    "Usage:  tandemcheck -a file1 -b file [-d] [-h] [-o offset in file 1] [-p offset in file 2]\n"
    "\n"
    "-d      debug mode, print functuons and arguments.\n"
    "-h      help (this help)\n"
    "-a      filename of first input file.\n"
    "-b      filename of second input file.\n"
    "-o      offset from start in bytes in first input file (default 0).\n"
    "-p      offset from start in bytes in second input file (default 0).\n";

command_line stop(int status)
{
    command_line result;
    result.status = status;
    return result;
}

command_line usage_and_stop(std::FILE* out)
{
    write_usage(out);
    return stop(exit_trouble);
}

const char* shown_name(const std::optional<std::string>& name)
{
    return name ? name->c_str() : "(null)";
}

}  // namespace

std::optional<std::string> duplicate_name(const char* text)
{
    try {
        return std::string(text);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void read_offset(const char* text, std::uint64_t& offset)
{
    // strtoull follows the same rules as "%llu" but saturates on overflow
    // where the scanf family leaves the result undefined.
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (end != text)
        offset = value;
}

void write_usage(std::FILE* out)
{
    std::fputs(usage_text, out);
}

command_line parse_command_line(int argc, char* argv[], std::FILE* out, std::FILE* err)
{
    std::fprintf(out, "\ntandemcheck-%s\n\n", tandemcheck_version);
    // The parser may write a diagnostic to standard error: the banner goes first.
    std::fflush(out);

    command_line result;
    run_settings& settings = result.settings;
    restart_option_parsing();
    const std::string options = posix_option_string("a:b:dhko:p:s:");
    int c;
    while ((c = getopt(argc, argv, options.c_str())) != -1) {
        switch (c) {
        case 'a':
        case 'b': {
            std::optional<std::string> copy = duplicate_name(optarg);
            if (!copy) {
                std::fprintf(err, "Could not allocate space for filename%c, aborting.\n",
                             c == 'a' ? '1' : '2');
                return stop(exit_trouble);
            }
            (c == 'a' ? settings.filename1 : settings.filename2) = std::move(copy);
            break;
        }
        case 'd':
            settings.debug_mode = 1;
            break;
        case 'k':
            settings.keep_going = true;
            break;
        case 'o':
            read_offset(optarg, settings.offset1);
            break;
        case 's':
            settings.checksum = duplicate_name(optarg);
            if (!settings.checksum) {
                std::fprintf(err, "Could not allocate space for the checksum, aborting.\n");
                return stop(exit_trouble);
            }
            break;
        case 'p':
            read_offset(optarg, settings.offset2);
            break;
        case '?': {
            // optopt may come back as a negative char for bytes above 0x7f.
            unsigned char option = static_cast<unsigned char>(optopt);
            if (option < 0x80 && std::isprint(option))
                std::fprintf(out, "Unknown option `-%c'.\n", option);
            else
                std::fprintf(out, "Unknown option character `\\x%x'.\n",
                             static_cast<unsigned>(option));
            return usage_and_stop(out);
        }
        default:  // -h, and anything else the parser hands back
            return usage_and_stop(out);
        }
    }

    if (settings.debug_mode)
        std::fprintf(err, "filename1=%s filename2=%s offset1=%llu offset2=%llu\n",
                     shown_name(settings.filename1), shown_name(settings.filename2),
                     static_cast<unsigned long long>(settings.offset1),
                     static_cast<unsigned long long>(settings.offset2));
    if (!settings.filename1) {
        std::fprintf(err, "No filename1 specified, use -a filename, aborting\n");
        return usage_and_stop(out);
    }
    if (!settings.filename2) {
        std::fprintf(err, "No filename2 specified, use -b filename, aborting\n");
        return usage_and_stop(out);
    }
    result.proceed = true;
    return result;
}
