#include "cli.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vekutil {

namespace {

// The command runner makes one word of every run of characters other than
// white space, keeps at most 31 words and measures a word in a 512-byte
// buffer. Arguments are escaped so that each becomes exactly one word:
// white space and '\' as \xHH, an empty argument as "\_".
constexpr std::size_t kMaxWords = 31;
constexpr std::size_t kMaxWordLen = 511;

const Command *g_command = nullptr;
std::string g_prog = "vekutil";

bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string escape_word(const std::string &arg) {
    if (arg.empty()) return "\\_";
    std::string out;
    for (unsigned char c : arg) {
        if (is_space(c) || c == '\\') {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes escape_word in place (the text only shrinks).
void unescape_word(char *w) {
    char *out = w;
    for (const char *p = w; *p != '\0';) {
        if (p[0] == '\\' && p[1] == '_') {
            p += 2;
        } else if (p[0] == '\\' && p[1] == 'x' && hex_digit(p[2]) >= 0 && hex_digit(p[3]) >= 0) {
            *out++ = static_cast<char>(hex_digit(p[2]) * 16 + hex_digit(p[3]));
            p += 4;
        } else {
            *out++ = *p++;
        }
    }
    *out = '\0';
}

int trampoline(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr) unescape_word(argv[i]);
    }
    return g_command->main(argc, argv);
}

const OptSpec *find_long(const Command &cmd, const std::string &name) {
    static const OptSpec help{'h', "help", false};
    static const OptSpec trace{'T', "trace", false};
    if (name == "help") return &help;
    if (name == "trace") return &trace;
    for (const OptSpec &o : cmd.options) {
        if (name == o.longName) return &o;
    }
    return nullptr;
}

const OptSpec *find_short(const Command &cmd, char c) {
    for (const OptSpec &o : cmd.options) {
        if (o.letter == c) return &o;
    }
    return nullptr;
}

} // namespace

const std::string &prog() { return g_prog; }

int fail(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", g_prog.c_str(), message.c_str());
    return kExitFail;
}

int fail_status(vek_st_t status, const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", g_prog.c_str(), vek_status_get(status), message.c_str());
    return kExitFail;
}

int usage_error(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", g_prog.c_str(), message.c_str(), g_prog.c_str());
    return kExitUsage;
}

std::string optstring(const Command &cmd) {
    std::string s = "hT";
    for (const OptSpec &o : cmd.options) {
        s += o.letter;
        if (o.hasArg) s += ':';
    }
    return s;
}

int common_option(const Command &cmd, int c, char **argv) {
    if (c == 'h') {
        std::fputs(cmd.help, stdout);
        return kExitOk;
    }
    if (c == 'T') {
        vek_trace_level |= VEK_TRACE_API_MASK | VEK_TRACE_DECODE_ERROR;
        return -1;
    }
    // vek_getopt leaves the cursor on the offending character of an
    // element when it can; otherwise name the element before vek_optind.
    std::string what;
    if (vek_pIndexPosition != nullptr && *vek_pIndexPosition != '\0') {
        what = std::string("-") + *vek_pIndexPosition;
    } else if (vek_optind > 0 && argv[vek_optind - 1] != nullptr) {
        what = argv[vek_optind - 1];
    }
    if (vek_optarg == nullptr && c == '?' && vek_pIndexPosition != nullptr) {
        const OptSpec *o = find_short(cmd, *vek_pIndexPosition);
        if (o != nullptr && o->hasArg) return usage_error("option " + what + " needs an argument");
    }
    return usage_error("unknown option " + what);
}

int run_command(const Command &cmd, int argc, char **argv) {
    g_prog = std::string("vekutil ") + cmd.name;
    g_command = &cmd;

    std::vector<std::string> options;
    std::vector<std::string> operands;
    bool onlyOperands = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyOperands || arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9')) {
            operands.push_back(arg); // "-" (standard input) and negative numbers too
            continue;
        }
        if (arg == "--") {
            onlyOperands = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptSpec *o = find_long(cmd, name);
            if (o == nullptr) return usage_error("unknown option --" + name);
            if (!o->hasArg && eq != std::string::npos) {
                return usage_error("option --" + name + " takes no argument");
            }
            options.push_back(std::string("-") + o->letter);
            if (o->hasArg) {
                if (eq != std::string::npos) {
                    options.push_back(arg.substr(eq + 1));
                } else if (i + 1 < argc) {
                    options.push_back(argv[++i]);
                } else {
                    return usage_error("option --" + name + " needs an argument");
                }
            }
            continue;
        }
        // A cluster of short options; its last letter may take the next
        // argument. Unknown letters are left for vek_getopt to report.
        options.push_back(arg);
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptSpec *o = find_short(cmd, arg[k]);
            if (o != nullptr && o->hasArg) {
                if (k + 1 == arg.size()) {
                    if (i + 1 >= argc) return usage_error(std::string("option -") + arg[k] + " needs an argument");
                    options.push_back(argv[++i]);
                }
                break;
            }
        }
    }

    std::vector<std::string> words;
    for (const std::string &o : options) words.push_back(escape_word(o));
    words.push_back("--");
    for (const std::string &o : operands) words.push_back(escape_word(o));
    if (words.size() > kMaxWords) {
        return usage_error("too many arguments (the command runner takes at most " + std::to_string(kMaxWords) +
                           " words, options included)");
    }
    std::string text;
    for (const std::string &w : words) {
        if (w.size() > kMaxWordLen) {
            return usage_error("an argument is too long (at most " + std::to_string(kMaxWordLen) +
                               " characters after escaping)");
        }
        if (!text.empty()) text += ' ';
        text += w;
    }

    std::vector<char> name(g_prog.begin(), g_prog.end());
    name.push_back('\0');
    const int rc = vek_crt(name.data(), text.c_str(), trampoline);
    std::fflush(stdout);
    if (rc == -1) return fail("cannot run the command: out of memory");
    return rc;
}

bool read_input(const std::string &path, std::string &out) {
    FILE *fp = stdin;
    if (path != "-") {
        fp = std::fopen(path.c_str(), "rb");
        if (fp == nullptr) {
            fail(path + ": cannot open: " + std::strerror(errno));
            return false;
        }
        struct stat st {};
        if (fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(fp);
            fail(path + ": is a directory");
            return false;
        }
        if (fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            out.reserve(static_cast<std::size_t>(st.st_size));
        }
    }
    out.clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0) out.append(chunk, n);
    const bool bad = std::ferror(fp) != 0;
    const int err = errno;
    if (fp != stdin) std::fclose(fp);
    if (bad) {
        fail((path == "-" ? std::string("standard input") : path) + ": read error: " + std::strerror(err));
        return false;
    }
    return true;
}

OutFile::~OutFile() { abort(); }

bool OutFile::open(const std::string &target) {
    target_ = target;
    if (target == "-") {
        toStdout_ = true;
        fp_ = stdout;
        return true;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string templ = dir + "." + base + ".XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) {
        fail(target + ": cannot create a temporary file beside it: " + std::strerror(errno));
        return false;
    }
    temp_ = buf.data();
    fp_ = fdopen(fd, "wb");
    if (fp_ == nullptr) {
        close(fd);
        unlink(temp_.c_str());
        temp_.clear();
        fail(target + ": cannot open: " + std::strerror(errno));
        return false;
    }
    return true;
}

bool OutFile::commit() {
    if (fp_ == nullptr) return false;
    if (toStdout_) {
        fp_ = nullptr;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            fail("write error on standard output");
            return false;
        }
        return true;
    }
    bool ok = std::fflush(fp_) == 0 && !std::ferror(fp_);
    int err = errno;
    // The new file gets the mode of the file it replaces, or the usual
    // mode of a new file.
    struct stat st {};
    mode_t mode;
    if (stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (ok && fchmod(fileno(fp_), mode) != 0) {
        ok = false;
        err = errno;
    }
    if (std::fclose(fp_) != 0 && ok) {
        ok = false;
        err = errno;
    }
    fp_ = nullptr;
    if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp_.c_str());
        temp_.clear();
        fail(target_ + ": cannot write: " + std::strerror(err));
        return false;
    }
    temp_.clear();
    return true;
}

void OutFile::abort() {
    if (fp_ != nullptr && !toStdout_) std::fclose(fp_);
    fp_ = nullptr;
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
}

int32_t write_to_file(void *arg, const void *data, uint32_t len) {
    FILE *fp = static_cast<FILE *>(arg);
    if (len == 0) return 0;
    return std::fwrite(data, 1, len, fp) == len ? static_cast<int32_t>(len > 0x7fffffffu ? 0 : len) : -1;
}

} // namespace vekutil
