// Helpers shared by the tests: captured host log lines and a temporary
// working directory (the driver reads its station file from there).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace etl::test {

// Sends the host runtime's log lines to a private file while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The log texts written so far, without the time stamp and level.
    std::vector<std::string> Lines() const;
    // True when some line equals text exactly.
    bool Has(const std::string& text) const;
    void Clear();

private:
    std::string path_;
};

// A fresh directory that becomes the current directory while alive.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Writes a file in the directory; returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
    std::string previous_;
};

// Waits until done() holds, looking every 10 ms, for a minute at most: a
// process that Wine or valgrind starts can take seconds to get going.
// False when done() never held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000);

}  // namespace etl::test
