// Shared plumbing of vekutil: running a subcommand through the library's
// command runner, option parsing, messages, input files and output files
// that appear complete or not at all.
#pragma once

#include <vek/vekcommon.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vekutil {

// Exit statuses of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFail = 1;  // bad input or a failed library operation
constexpr int kExitUsage = 2; // wrong command line

// One option of a subcommand: short letter, long name (without "--"),
// whether it takes an argument. --help (-h) and --trace (-T) are added to
// every subcommand.
struct OptSpec {
    char letter;
    const char *longName;
    bool hasArg;
};

struct Command {
    const char *name;             // "map dump"
    std::vector<OptSpec> options; // besides -h and -T
    const char *help;             // full --help text
    int (*main)(int argc, char **argv);
};

// Runs cmd on the arguments that follow its name: long options become
// short ones, options move before the operands (after a "--" from the user
// everything is an operand), and the words go through vek_crt, which calls
// cmd.main with the vector it builds.
int run_command(const Command &cmd, int argc, char **argv);

// The option string for vek_getopt: "hT" and the command's letters.
std::string optstring(const Command &cmd);

// Called in a subcommand's main for every option that vek_getopt returns
// that the subcommand does not handle itself: -h prints the help and asks
// to stop with status 0, -T turns tracing on, anything else is a usage
// error. Returns -1 to go on, or the exit status to stop with.
int common_option(const Command &cmd, int c, char **argv);

// Parses the options of cmd; letters of cmd.options are handed to onOpt.
// Returns -1 to go on, or the exit status.
template <typename F>
int parse_options(const Command &cmd, int argc, char **argv, F onOpt) {
    const std::string opts = optstring(cmd);
    int c;
    while ((c = vek_getopt(argc, argv, opts.c_str())) != -1) {
        bool known = false;
        for (const OptSpec &o : cmd.options) known = known || o.letter == c;
        if (known && c != '?') {
            onOpt(c, vek_optarg);
            continue;
        }
        const int rc = common_option(cmd, c, argv);
        if (rc >= 0) return rc;
    }
    return -1;
}

// Name of the running subcommand for messages ("vekutil map dump").
const std::string &prog();

// "prog: message" on stderr; returns kExitFail.
int fail(const std::string &message);
// "prog: STATUS_NAME: message" on stderr; returns kExitFail.
int fail_status(vek_st_t status, const std::string &message);
// "prog: message" and a hint to --help on stderr; returns kExitUsage.
int usage_error(const std::string &message);

// Reads a whole file, or standard input for "-", in one go.
bool read_input(const std::string &path, std::string &out);

// An output file that appears complete or not at all: the bytes go to a
// temporary file beside the target, which commit() renames over it. With
// the target "-" the bytes go to standard output.
class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile &) = delete;
    OutFile &operator=(const OutFile &) = delete;
    ~OutFile();

    bool open(const std::string &target); // prints its own message
    FILE *stream() { return fp_; }
    bool commit(); // prints its own message
    void abort();

private:
    std::string target_;
    std::string temp_;
    FILE *fp_ = nullptr;
    bool toStdout_ = false;
};

// vek_map_wrfn_t that writes to a FILE * (arg).
int32_t write_to_file(void *arg, const void *data, uint32_t len);

} // namespace vekutil
