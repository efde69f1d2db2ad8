#include "fml/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <streambuf>
#include <utility>
#include <vector>

#include "fml/app_dirs.h"
#include "fml/exception.h"
#include "fml/text.h"
#include "fml/unique_fd.h"

namespace fml {
namespace {

// A stream buffer that writes to a file descriptor it owns. Output is buffered
// until the stream is flushed (std::endl), then written out in full.
class fd_streambuf final : public std::streambuf {
public:
    explicit fd_streambuf(unique_fd fd) : m_fd(std::move(fd)) {
        setp(m_buffer, m_buffer + sizeof m_buffer);
    }
    ~fd_streambuf() override { sync(); }
    fd_streambuf(const fd_streambuf&) = delete;
    fd_streambuf& operator=(const fd_streambuf&) = delete;

protected:
    int_type overflow(int_type ch) override {
        if (!write_pending()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return write_pending() ? 0 : -1; }

private:
    bool write_pending() {
        const char* data = pbase();
        size_t left = static_cast<size_t>(pptr() - pbase());
        while (left > 0) {
            const ssize_t written = ::write(m_fd.get(), data, left);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                setp(m_buffer, m_buffer + sizeof m_buffer);
                return false;
            }
            data += written;
            left -= static_cast<size_t>(written);
        }
        setp(m_buffer, m_buffer + sizeof m_buffer);
        return true;
    }

    unique_fd m_fd;
    char m_buffer[4096];
};

struct log_file {
    explicit log_file(unique_fd fd) : buffer(std::move(fd)), stream(&buffer) {}
    fd_streambuf buffer;
    std::ostream stream;
};

struct registry {
    // Registration order is kept so that closing goes the same way every run.
    std::vector<std::pair<std::string, std::unique_ptr<log_file>>> logs;

    log_file* find(std::string_view id) {
        for (auto& [name, log] : logs) {
            if (name == id) {
                return log.get();
            }
        }
        return nullptr;
    }
};

registry& the_registry() {
    // Never destroyed: a log line written from a static destructor must still find it.
    static registry* instance = new registry;
    return *instance;
}

}  // namespace

void reglog(const std::string& id, std::u16string_view relative_path) {
    registry& reg = the_registry();
    if (reg.find(id) != nullptr) {
        throw reglog_error("log with id=" + id + ", is always register");
    }
    const std::string path =
        wchar2utf8(hrd::app_dirs::get(hrd::app_dirs::DataDir)) + "/" + wchar2utf8(relative_path);
    // Truncate: each run starts a clean log. 0600 because logs quote clip text.
    unique_fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid()) {
        throw cannot_open_log_error("cannot_open_log " + path + ": " + last_error_text());
    }
    // An older file keeps its mode when opened; make it private too.
    if (::fchmod(fd.get(), 0600) != 0) {
        const std::string error = last_error_text();
        throw cannot_open_log_error("cannot_open_log " + path + ": " + error);
    }
    reg.logs.emplace_back(id, std::make_unique<log_file>(std::move(fd)));
}

std::ostream& getlog(std::string_view id) {
    if (log_file* log = the_registry().find(id)) {
        return log->stream;
    }
    throw getlog_error("log with id=" + std::string(id) + ", is not register");
}

bool haslog(std::string_view id) noexcept {
    return the_registry().find(id) != nullptr;
}

void closelogs() noexcept {
    the_registry().logs.clear();
}

void app_line(std::string_view line) {
    if (haslog("app")) {
        getlog("app") << line << std::endl;
    }
}

}  // namespace fml
