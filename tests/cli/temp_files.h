// A private temporary folder for each test, and whole-file reading and writing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

class TempFolder {
public:
    TempFolder() : path_("/tmp/ndislog-cli-XXXXXX") { mkdtemp(path_.data()); }
    ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

inline std::string ReadFile(const std::string& path)
{
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, count);
        std::fclose(file);
    }
    return bytes;
}
