// Private temporary folders and files for tests, removed with what they hold, and whole-file
// reading and writing. Portable: the core's tests use it under Wine too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

class TempFolder {
public:
    TempFolder()
    {
        namespace fs = std::filesystem;
        static int made = 0;
        // Not <chrono>: its "µs" has no code page 932 form, and the tests are compiled for it.
        // A stack address tells apart processes started in the same second (ASLR).
        const int local = 0;
        const auto moment = static_cast<long long>(std::time(nullptr)) ^ reinterpret_cast<std::uintptr_t>(&local);
        std::error_code error;
        for (int attempt = 0;; ++attempt) {
            path_ = (fs::temp_directory_path(error) /
                     ("ndislog-test-" + std::to_string(moment) + "-" + std::to_string(++made)))
                        .string();
            if (fs::create_directory(path_, error) || attempt == 100)
                break;
        }
    }
    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
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

// A file with the given bytes in a folder of its own.
class TempFile {
public:
    explicit TempFile(const std::string& bytes, const std::string& name = "log.txt") : path_(folder_.File(name))
    {
        WriteFile(path_, bytes);
    }
    const char* path() const { return path_.c_str(); }

private:
    TempFolder folder_;
    std::string path_;
};
