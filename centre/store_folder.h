// The centre's store: one JSON Lines file per sending machine, `<host>.jsonl`, in one folder.
#pragma once

#include <map>
#include <string>
#include <string_view>

class StoreFolder {
public:
    // The store in the existing folder `path`; files are opened when first needed.
    explicit StoreFolder(std::string path);
    ~StoreFolder();
    StoreFolder(const StoreFolder&) = delete;
    StoreFolder& operator=(const StoreFolder&) = delete;

    // Appends `line` (ending in LF) whole to the file of `host` (a `/` in it becomes `_`),
    // created when missing.
    // Returns "" once the line is in the file; otherwise why it is not, and then no part of it
    // is there.
    std::string Append(std::string_view host, std::string_view line);

    // Closes every open file, so that a file renamed or removed meanwhile (rotated) is
    // created afresh by the next line of its host.
    void CloseAll();

private:
    std::string FileNameOf(std::string_view host) const;
    int OpenFile(const std::string& name, std::string* failure);

    std::string path_;
    std::map<std::string, int> open_files_;  // by file name
};
