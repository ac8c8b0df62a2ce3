#include "support/test_files.h"

#include <fstream>
#include <iterator>

namespace quillo::test {

bool ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string ReadWholeFile(const std::string& path) {
    std::string contents;
    ReadWholeFile(path, contents);
    return contents;
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace quillo::test
