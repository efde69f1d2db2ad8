// Makes a collection of N generated quotes in a folder, for the end-to-end test
// of a long list and the desktop benchmark. The folder is kept: when it already
// holds a finished collection made the same way, nothing is done, so a test can
// ask for it on every run and pay for it once.
//
// Usage: e2e_make_collection <folder> <quotes>
//
// Quote q (1 ... N, newest last) reads "Quote q of N: ..."; every 7th has three
// lines and the tag "Three lines", every 11th has letters outside ASCII, every
// 20th has the tag "Every twentieth". The files' owner alone may read them, as the
// program keeps its own.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "collection_builder.h"
#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "model/collection_store.h"

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " <folder> <quotes>\n";
        return 2;
    }
    const fs::path folder = argv[1];
    const int quotes = std::atoi(argv[2]);
    // Whatever changes what is made changes this line, and so makes it again.
    const std::string made = "generated quotes v1, schema " +
                             std::to_string(hrd::collection_schema_version) + ", " +
                             std::to_string(quotes) + " quotes\n";
    if (read_text(folder / "complete") == made) {
        return 0;
    }
    try {
        fs::remove_all(folder);
        fs::create_directories(folder / "logs");
        hrd::app_dirs::set(hrd::app_dirs::DataDir, fml::utf82wchar(folder.string()));
        fml::reglog("logic", u"logs/logic.log");
        fml::reglog("debug", u"logs/debug.log");
        hrd::testing::collection_plan plan;
        plan.quotes = quotes;
        plan.tags = {"Every twentieth", "Three lines"};
        const std::string of = " of " + std::to_string(quotes);
        plan.text = [&of](int q) {
            std::string text = "Quote " + std::to_string(q) + of +
                               ": a clip of a sentence or two, long enough to wrap in a narrow list";
            if (q % 11 == 0) {
                text += " \xE2\x80\x94 na\xC3\xAFve caf\xC3\xA9 \xF0\x9F\x98\x80";  // — naïve café 😀
            }
            if (q % 7 == 0) {
                text += "\nwith a second line\nand a third";
            }
            return text;
        };
        plan.tags_of = [](int q, std::vector<int>& tags) {
            if (q % 20 == 0) {
                tags.push_back(1);
            }
            if (q % 7 == 0) {
                tags.push_back(2);
            }
        };
        hrd::testing::build_collection(folder, plan);
        fml::closelogs();
        fs::remove_all(folder / "logs");
        ::chmod(folder.c_str(), 0700);
        for (const auto& entry : fs::directory_iterator(folder)) {
            ::chmod(entry.path().c_str(), 0600);
        }
        std::ofstream(folder / "complete", std::ios::binary) << made;
    } catch (const std::exception& e) {
        std::cerr << "cannot make the collection in " << folder << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
