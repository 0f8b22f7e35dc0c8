#pragma once
// Switches the whole process to another locale for one test (as a Qt program takes the user's), and back.

#include <clocale>
#include <string>

namespace kelvaro::test {

class ProcessLocale {
public:
    explicit ProcessLocale(const char* name)
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
        active_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;

    // False when the locale is not installed (the test should skip).
    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

} // namespace kelvaro::test
