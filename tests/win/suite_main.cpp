// main of the Windows test programs: GoogleTest's own, plus what ctest's entries need. ctest
// runs each suite as an entry of its own (--suite=NAME), so a suite that hangs is ended by its
// own time-out and the others still report; and --check-suites=A:B:... tells whether those
// entries are exactly the program's suites, as ctest cannot list a Windows program's tests while
// CMake configures on Linux.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (size_t end; (end = text.find(separator, begin)) != std::string::npos; begin = end + 1) {
        parts.push_back(text.substr(begin, end - begin));
    }
    parts.push_back(text.substr(begin));
    return parts;
}

// GoogleTest's wildcards: '*' any run of characters, '?' any one.
bool Matches(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
    return *name && (*pattern == '?' || *pattern == *name) && Matches(pattern + 1, name + 1);
}

bool MatchesAny(const std::string& patterns, const std::string& name) {
    for (const std::string& pattern : Split(patterns, ':')) {
        if (Matches(pattern.c_str(), name.c_str())) return true;
    }
    return false;
}

// A filter as GoogleTest reads it: "POSITIVE-NEGATIVE", an empty positive part taking all.
bool Selects(const std::string& filter, const std::string& name) {
    const size_t dash = filter.find('-');
    const std::string positive = filter.substr(0, dash);
    const std::string negative = dash == std::string::npos ? "" : filter.substr(dash + 1);
    return (positive.empty() || MatchesAny(positive, name)) &&
           (negative.empty() || !MatchesAny(negative, name));
}

// A parameterised suite runs as "Prefix/Suite".
std::string SuiteOf(const std::string& registered) {
    const size_t slash = registered.rfind('/');
    return slash == std::string::npos ? registered : registered.substr(slash + 1);
}

std::set<std::string> ProgramSuites() {
    std::set<std::string> suites;
    const testing::UnitTest& tests = *testing::UnitTest::GetInstance();
    for (int i = 0; i < tests.total_test_suite_count(); ++i) {
        suites.insert(SuiteOf(tests.GetTestSuite(i)->name()));
    }
    return suites;
}

int CheckSuites(const std::string& listed) {
    const std::vector<std::string> parts = Split(listed, ':');
    const std::set<std::string> entries(parts.begin(), parts.end());
    const std::set<std::string> program = ProgramSuites();
    int wrong = 0;
    for (const std::string& suite : program) {
        if (!entries.count(suite)) {
            std::printf("suite %s has no ctest entry\n", suite.c_str());
            ++wrong;
        }
    }
    for (const std::string& suite : entries) {
        if (!program.count(suite)) {
            std::printf("ctest entry for %s, which is no suite of this program\n", suite.c_str());
            ++wrong;
        }
    }
    if (!wrong) std::printf("%zu suites, each with its ctest entry\n", program.size());
    return wrong ? 1 : 0;
}

// The suite's tests that the filter given (GTEST_FILTER or --gtest_filter) also selects, as a
// filter of their full names; false when the program has no such suite.
bool NarrowToSuite(const std::string& suite) {
    const std::string given = GTEST_FLAG_GET(filter);
    std::string names;
    bool known = false;
    const testing::UnitTest& tests = *testing::UnitTest::GetInstance();
    for (int i = 0; i < tests.total_test_suite_count(); ++i) {
        const testing::TestSuite& s = *tests.GetTestSuite(i);
        if (SuiteOf(s.name()) != suite) continue;
        known = true;
        for (int j = 0; j < s.total_test_count(); ++j) {
            const std::string name = std::string(s.name()) + "." + s.GetTestInfo(j)->name();
            if (Selects(given, name)) names += (names.empty() ? "" : ":") + name;
        }
    }
    if (names.empty()) {
        // Selects nothing, where an empty filter would select everything.
        names = "-*";
        if (known)
            std::printf("the filter %s selects no test of %s\n", given.c_str(), suite.c_str());
    }
    GTEST_FLAG_SET(filter, names);
    return known;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const char* suite = "--suite=";
        const char* check = "--check-suites=";
        if (std::strncmp(argv[i], check, std::strlen(check)) == 0) {
            return CheckSuites(argv[i] + std::strlen(check));
        }
        if (std::strncmp(argv[i], suite, std::strlen(suite)) == 0 &&
            !NarrowToSuite(argv[i] + std::strlen(suite))) {
            std::printf("no suite %s in this program\n", argv[i] + std::strlen(suite));
            return 1;
        }
    }
    return RUN_ALL_TESTS();
}
