#pragma once
// A private scratch directory per test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "archive/file_module.h"

namespace tolvan::testing {

class TempDir {
public:
    TempDir()
    {
        std::string name = (std::filesystem::temp_directory_path() / "tolvan-archive-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = name;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // Writes content byte for byte and returns the file's path.
    std::string write(const std::string& name, std::string_view content) const
    {
        const std::string file = path_ + "/" + name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

    std::string read(const std::string& name) const
    {
        std::ifstream in(path_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

// What the controller does when an archive is loaded.
inline void load(fileModule& module, const std::string& path)
{
    ASSERT_TRUE(module.openForRead(path.c_str())) << path;
    module.readAll();
    module.closeFile();
}

}  // namespace tolvan::testing
