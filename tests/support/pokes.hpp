// Hand-made corruptions for the white-box tests of the structure checks:
// fields of a structure are changed in place and every one is put back,
// the last first, when the Pokes goes out of scope, so the structure can be
// released normally afterwards.
#pragma once

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace vektest {

class Pokes {
public:
    Pokes() = default;
    Pokes(const Pokes &) = delete;
    Pokes &operator=(const Pokes &) = delete;
    ~Pokes() { restore(); }

    // field = value, remembering what it held.
    template <typename T>
    void set(T &field, const T &value) {
        save(&field, sizeof(T));
        field = value;
    }

    // n raw bytes at `at` replaced by those at `value`.
    void set_bytes(void *at, const void *value, std::size_t n) {
        save(at, n);
        std::memcpy(at, value, n);
    }

    // Puts every changed field back, the last first.
    void restore() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            std::memcpy(it->first, it->second.data(), it->second.size());
        }
        saved_.clear();
    }

private:
    void save(void *at, std::size_t n) {
        const auto *p = static_cast<const unsigned char *>(at);
        saved_.emplace_back(at, std::vector<unsigned char>(p, p + n));
    }

    std::vector<std::pair<void *, std::vector<unsigned char>>> saved_;
};

} // namespace vektest
