// The desktop program: Hoardly's start-up sequence on Qt.

#include "shell/platform/qt/qt_event_loop.h"
#include "shell/startup.h"

namespace {

class qt_platform final : public hrd::shell_platform {
public:
    qt_platform(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

    std::unique_ptr<hrd::event_loop> create_event_loop() override {
        return std::make_unique<hrd::qt::qt_event_loop>(m_argc, m_argv);
    }
    void create_main_window() override {}
    void start_desktop(std::function<void()>) override {}
    void stop_desktop() noexcept override {}
    void destroy_main_window() noexcept override {}
    void on_second_start() override {}

private:
    int& m_argc;
    char** m_argv;
};

}  // namespace

int main(int argc, char** argv) {
    qt_platform platform(argc, argv);
    return hrd::run_application(platform);
}
