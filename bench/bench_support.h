#pragma once
// What the benchmarks that load the real main document share.

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "layout/document.h"

namespace hrd::bench {

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Serves the document's style sheets from the source tree's res/.
class res_host : public layout::host {
public:
    std::optional<std::string> load_resource(std::string_view uri) override {
        return read_file(std::string(HOARDLY_SOURCE_DIR "/res/") + std::string(uri));
    }
};

}  // namespace hrd::bench
