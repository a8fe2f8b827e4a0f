#pragma once
#include <string>

namespace vantor {

// Looks at a path on this computer to choose its icon.
class FileInspector {
public:
    virtual ~FileInspector() = default;
    // True for a directory, and for a path whose attributes cannot be read.
    virtual bool isDirectoryOrUnreadable(const std::string& path) const = 0;
};

class LocalFileInspector final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string& path) const override;
};

}  // namespace vantor
