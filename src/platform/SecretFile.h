#pragma once
// Small files that hold a secret (the mail server's password). Such a file is used only when its
// owner alone may read it: one that others can read has already leaked, and using it would let
// that pass unnoticed.

#include <filesystem>
#include <string>

namespace vantor {

enum class SecretFileStatus {
    Read,
    Unreadable,  // missing, not a regular file, no permission, or larger than a secret can be
    OpenToOthers,  // group or others have some permission on it
};

// The whole content (at most 64 KiB) into `content` when the status is Read; `content` is
// cleared otherwise.
SecretFileStatus readSecretFile(const std::filesystem::path& path, std::string& content);

}  // namespace vantor
