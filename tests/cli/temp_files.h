// A private temporary folder for each test, and whole-file reading and writing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/ndislog-cli-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr) << "cannot create a temporary folder";
        path_ = made ? made : "/tmp";
    }
    ~TempFolder()
    {
        const std::string command = "rm -rf '" + path_ + "'";
        if (path_ != "/tmp" && std::system(command.c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << path_;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size()) << path;
    std::fclose(file);
}

inline std::string ReadFile(const std::string& path)
{
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, count);
    std::fclose(file);
    return bytes;
}
