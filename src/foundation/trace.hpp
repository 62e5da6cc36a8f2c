// Entry and exit trace lines of the exported operations.
//
// When (vek_trace_level & VEK_TRACE_API_MASK) != 0 an operation prints its
// name followed by " field=%llx" for each traced value and a newline, e.g.
//     vek_bitmap_reserve map=55d0c0 size=3 base=7ffc10
//     vek_bitmap_reserve vekStatus=0 base=5
// Values are widened to 64 bits: unsigned values and pointers zero-extended,
// signed values sign-extended. A line is written with a single output call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include <vek/vek_sal.h>

namespace vek::trace {

// True when entry/exit lines are enabled.
inline bool on() { return (vek_trace_level & VEK_TRACE_API_MASK) != 0u; }

// Widens a traced value to the 64 bits printed with %llx.
template <typename T>
constexpr unsigned long long widen(T v) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
        return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(v));
    } else if constexpr (std::is_enum_v<T>) {
        return widen(static_cast<std::underlying_type_t<T>>(v));
    } else if constexpr (std::is_same_v<T, bool>) {
        return v ? 1ull : 0ull;
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<unsigned long long>(static_cast<long long>(v));
    } else {
        return static_cast<unsigned long long>(v);
    }
}

// What an optional out-parameter holds now, for an exit line (0 when absent).
template <typename T>
constexpr T out_value(const T *out) {
    return out != nullptr ? *out : T{};
}

struct Field {
    const char *name;
    unsigned long long value;

    template <typename T>
    constexpr Field(const char *n, T v) : name(n), value(widen(v)) {}
};

// Prints "<op>{ <name>=<value>}\n" unconditionally.
void write_line(const char *op, std::initializer_list<Field> fields);

// Prints the line when tracing is on.
inline void line(const char *op, std::initializer_list<Field> fields) {
    if (on()) write_line(op, fields);
}

// Prints a printf-formatted line when tracing is on; only for the few lines
// that do not follow the "<op> name=value ..." pattern.
void raw(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The trace of one exported operation: the entry line when it is made, the
// exit line through exit(). Every exported operation is written
//
//     extern "C" VEK_API vek_st_t vek_x(T a) {
//         const vek::trace::Call call(__func__, {{"a", a}});
//         const vek_st_t st = x_worker(a);        // the work, no tracing
//         call.exit({{"vekStatus", st}});
//         return st;
//     }
//
// so the traced name is always the function's own (__func__ of an extern
// "C" function is its exported name). An operation whose exit line departs
// from the pattern prints it with raw(), naming call.op().
class Call {
public:
    Call(const char *op, std::initializer_list<Field> entry) : op_(op) { line(op_, entry); }
    // An operation whose entry line is not traced (or departs from the pattern).
    explicit Call(const char *op) : op_(op) {}
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    void exit(std::initializer_list<Field> fields) const { line(op_, fields); }
    const char *op() const { return op_; }

private:
    const char *op_;
};

} // namespace vek::trace
