// The store folder: open files by host, each line appended whole.
#include "store_folder.h"

#include "whole_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A centre hears from a few dozen machines; past this many open files all are closed and
// reopened as lines come, rather than running out of descriptors.
constexpr size_t MAX_OPEN_FILES = 256;
constexpr mode_t FILE_MODE = 0644;  // as rsyslog's omfile creates its files (less the umask)

}  // namespace

StoreFolder::StoreFolder(std::string path) : path_(std::move(path)) {}

StoreFolder::~StoreFolder()
{
    CloseAll();
}

void StoreFolder::CloseAll()
{
    for (const auto& [name, fd] : open_files_)
        close(fd);
    open_files_.clear();
}

std::string StoreFolder::FileNameOf(std::string_view host) const
{
    // The sender names its host; a `/` in that name would reach outside the store.
    std::string file_host(host);
    for (char& c : file_host) {
        if (c == '/')
            c = '_';
    }
    return path_ + "/" + file_host + ".jsonl";
}

int StoreFolder::OpenFile(const std::string& name, std::string* failure)
{
    const auto open_file = open_files_.find(name);
    if (open_file != open_files_.end())
        return open_file->second;
    if (open_files_.size() >= MAX_OPEN_FILES)
        CloseAll();
    // Read access too, to find an unfinished last line.
    const int fd = open(name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, FILE_MODE);
    if (fd < 0) {
        *failure = "cannot open " + name + ": " + std::strerror(errno);
        return -1;
    }
    if (const int error = CutUnfinishedLine(fd)) {
        close(fd);
        *failure = "cannot end the last line of " + name + ": " + std::strerror(error);
        return -1;
    }
    open_files_.emplace(name, fd);
    return fd;
}

std::string StoreFolder::Append(std::string_view host, std::string_view line)
{
    const std::string name = FileNameOf(host);
    std::string failure;
    const int fd = OpenFile(name, &failure);
    if (fd < 0)
        return failure;
    const int error = AppendWholeLine(fd, line);
    if (error == 0)
        return "";
    // The file may be cut short or gone bad: the next try opens it again.
    close(fd);
    open_files_.erase(name);
    return "cannot write " + name + ": " + std::strerror(error);
}
