// vekutil: the library's command-line tool. Each subcommand is a main-like
// function run through the library's command runner (vek_crt) and parses
// its options with the library's option parser (vek_getopt).
#include "commands.hpp"

#include <cstring>
#include <string>

namespace {

const char kToolHelp[] = R"HELP(Usage: vekutil COMMAND [OPTIONS] ARGUMENTS
       vekutil COMMAND --help

Status codes, map streams and list texts of libvekcommon, from the shell.

Commands:
  status CODE...            print status codes with their names
  status --search WORD      list the status names that contain WORD
  map dump [--full] FILE    print a map stream with the library's dump
  map get FILE PATH         print one value by key path, with its type
  map set FILE PATH TYPE VALUE [--create] [--retype] [-o OUT]
                            change one value of a stream, only its bytes
  map text FILE [-o OUT]    write the lossless text form of a stream
  map encode TEXT [-o OUT]  turn the text form back into the same stream
  map json FILE [-o OUT]    export a stream as JSON
  list [--type T] [--sep C] [--range C] TEXT
                            print the items of a list text, one a line
  ipcsum --rev N FILE       print the IP-checksum option words of a map
  region create NAME --size BYTES [--group]
                            create a named robust region
  region ls                 list the regions of this host
  region info NAME          a region's figures and named objects
  region check NAME [--object OBJECT]
                            check a region and its device handle's registry
  region rm NAME            remove a region
  rsrc NAME [--object OBJECT] [--kind K]
                            print the resource table of a region's handle

FILE and TEXT may be - for standard input. Every command takes --trace
(the library's trace lines on standard output) and --help. Exit status: 0
on success, 1 when the input is bad or an operation fails (the message
names the library's status), 2 for a wrong command line. Output files are
written to a temporary file beside them and renamed, never left half
written.
)HELP";

const char kRegionHelp[] = R"HELP(Usage: vekutil region SUBCOMMAND [OPTIONS] ARGUMENTS

Subcommands:
  create NAME --size BYTES[K|M|G] [--group]  create a named robust region
  ls                              list the regions of this host (/dev/shm/vek.*)
  info NAME                       size, use and named objects of a region
  check NAME [--object OBJECT]    check a region and its handle's registry
  rm NAME                         remove a region

Only create and rm change anything. `vekutil region SUBCOMMAND --help`
describes each.
)HELP";

const char kMapHelp[] = R"HELP(Usage: vekutil map SUBCOMMAND [OPTIONS] ARGUMENTS

Subcommands:
  dump [--full] FILE|-            print a stream with the library's dump
  get FILE|- PATH                 print one value by key path
  set FILE PATH TYPE VALUE [-o OUT]  change one value (--create: add it)
  text FILE|- [-o OUT]            write the lossless text form
  encode TEXT|- [-o OUT]          encode the text form into a stream
  json FILE|- [-o OUT]            export as JSON

`vekutil map SUBCOMMAND --help` describes each.
)HELP";

int unknown(const char *what, const char *name, const char *help) {
    std::fprintf(stderr, "vekutil: unknown %s '%s'\n\n%s", what, name, help);
    return vekutil::kExitUsage;
}

bool is_help(const char *arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "help") == 0;
}

} // namespace

int main(int argc, char **argv) {
    using namespace vekutil;
    if (argc < 2) {
        std::fputs(kToolHelp, stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--trace") == 0) { // also accepted before the command
        vek_trace_level |= VEK_TRACE_API_MASK | VEK_TRACE_DECODE_ERROR;
        --argc;
        ++argv;
        if (argc < 2) {
            std::fputs(kToolHelp, stderr);
            return kExitUsage;
        }
    }
    const char *cmd = argv[1];
    if (is_help(cmd)) {
        std::fputs(kToolHelp, stdout);
        return kExitOk;
    }
    if (std::strcmp(cmd, "status") == 0) return run_command(kStatusCommand, argc - 2, argv + 2);
    if (std::strcmp(cmd, "list") == 0) return run_command(kListCommand, argc - 2, argv + 2);
    if (std::strcmp(cmd, "ipcsum") == 0) return run_command(kIpcsumCommand, argc - 2, argv + 2);
    if (std::strcmp(cmd, "map") == 0) {
        if (argc < 3) {
            std::fputs(kMapHelp, stderr);
            return kExitUsage;
        }
        const char *sub = argv[2];
        if (is_help(sub)) {
            std::fputs(kMapHelp, stdout);
            return kExitOk;
        }
        static const Command *const kMapCommands[] = {&kMapDumpCommand, &kMapGetCommand,    &kMapSetCommand,
                                                      &kMapTextCommand, &kMapEncodeCommand, &kMapJsonCommand};
        for (const Command *c : kMapCommands) {
            if (std::strcmp(c->name + 4, sub) == 0) return run_command(*c, argc - 3, argv + 3);
        }
        return unknown("map subcommand", sub, kMapHelp);
    }
    if (std::strcmp(cmd, "rsrc") == 0) return run_command(kRsrcCommand, argc - 2, argv + 2);
    if (std::strcmp(cmd, "region") == 0) {
        if (argc < 3) {
            std::fputs(kRegionHelp, stderr);
            return kExitUsage;
        }
        const char *sub = argv[2];
        if (is_help(sub)) {
            std::fputs(kRegionHelp, stdout);
            return kExitOk;
        }
        static const Command *const kRegionCommands[] = {&kRegionCreateCommand, &kRegionLsCommand, &kRegionInfoCommand,
                                                         &kRegionCheckCommand, &kRegionRmCommand};
        for (const Command *c : kRegionCommands) {
            if (std::strcmp(c->name + 7, sub) == 0) return run_command(*c, argc - 3, argv + 3);
        }
        return unknown("region subcommand", sub, kRegionHelp);
    }
    return unknown("command", cmd, kToolHelp);
}
