#pragma once
// A private temporary folder for one test, removed with everything in it.

#include <string>

namespace hrd::test {

class temp_dir {
public:
    temp_dir();
    // A folder under `base` (for example "/dev/shm", where syncing costs nothing).
    explicit temp_dir(const std::string& base);
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return m_path; }
    std::u16string wpath() const;
    // path() + "/" + name
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Reads a whole file; "" when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// The source tree, for tests that read the real res/ and share/ files.
std::string source_dir();

}  // namespace hrd::test
