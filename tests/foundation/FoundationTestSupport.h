// Helpers shared by the foundation tests.
#pragma once

#include "../support/StandardError.h"

#include "FType.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

namespace foundation_test {

/// The text of a string; "" for the null form.
inline std::string text(FSpace::FGStr<char> const& s) {
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

inline std::wstring text(FSpace::FGStr<wchar_t> const& s) {
    wchar_t const* p = s;
    return p == nullptr ? std::wstring() : std::wstring(p);
}

/// The text of a value that renders itself.
template <class T>
requires requires(T const& v) {
    v.toCString();
}
std::string text(T const& value) {
    return text(FSpace::FGStr<char>(value.toCString()));
}

/// Counts its destructions, to see what references and values share and release.
struct Probe : FSpace::FObject {
    explicit Probe(std::atomic<int>* destroyed) : m_destroyed(destroyed) {}
    ~Probe() override { m_destroyed->fetch_add(1); }

    int value = 42;

private:
    std::atomic<int>* m_destroyed;
};

/// Checks each {computed, expected} row of \p rows; see EXPECT_ROWS.
template <class T>
void expectRows(std::initializer_list<std::pair<T, T>> rows, char const* file, int line) {
    testing::ScopedTrace const trace(file, line, "EXPECT_ROWS");
    std::size_t row = 0;
    for (auto const& [got, want] : rows) {
        if constexpr (std::is_floating_point_v<T>)
            EXPECT_DOUBLE_EQ(got, want) << "row " << row;
        else
            EXPECT_EQ(got, want) << "row " << row;
        ++row;
    }
}

/// "code|what|where|why" of an exception, "(null)" standing for a null text.
inline std::string describe(FSpace::FException const& e) {
    auto shown = [](char const* p) { return std::string(p != nullptr ? p : "(null)"); };
    return std::to_string(e.code()) + "|" + shown(e.what()) + "|" + shown(e.where()) + "|" + shown(e.why());
}

/// The FException (or \p E) that \p action throws; "no exception" when none.
template <class E = FSpace::FException, class F>
FSpace::FException thrownBy(F&& action) {
    try {
        action();
    } catch (E const& e) {
        return e;
    }
    return FSpace::FException(0u, "no exception");
}

/// \p s with every byte zero-extended, as the library widens text.
inline std::wstring widened(std::string const& s) {
    auto const* bytes = reinterpret_cast<unsigned char const*>(s.data());
    return std::wstring(bytes, bytes + s.size());
}

/// The whole content of the file at \p path ("" when it cannot be read).
inline std::string readFile(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/// A fresh temporary folder, removed with its content at the end of its scope.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/fspace-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
        EXPECT_FALSE(m_path.empty()) << "no temporary folder";
    }
    TemporaryFolder(TemporaryFolder const&) = delete;
    TemporaryFolder& operator=(TemporaryFolder const&) = delete;
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string const& path() const { return m_path; }
    std::string operator/(std::string const& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// Sets (null: unsets) an environment variable until the end of the scope.
struct ScopedEnv {
    ScopedEnv(char const* n, char const* value)
        : name(n), had(std::getenv(n)), old(had ? std::getenv(n) : "") {
        set(value);
    }
    ScopedEnv(ScopedEnv const&) = delete;
    ScopedEnv& operator=(ScopedEnv const&) = delete;
    ~ScopedEnv() { set(had ? old.c_str() : nullptr); }
    void set(char const* value) const { value == nullptr ? ::unsetenv(name) : ::setenv(name, value, 1); }

    char const* name;
    bool had;
    std::string old;
};

using testsupport::standardErrorOfChild;

} // namespace foundation_test

/// Checks rows of {computed value, expected value}, both converted to \p type
/// (std::string for texts, never a pointer type). A failure names the row,
/// counted from 0, and the line of the check.
#define EXPECT_ROWS(type, ...) foundation_test::expectRows<type>({__VA_ARGS__}, __FILE__, __LINE__)
