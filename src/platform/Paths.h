#pragma once
// Where the program's files live: logs, list files, the report and the help page.
// On Linux the data directory ($XDG_DATA_HOME/vantor, or ~/.local/share/vantor, or --data-dir);
// on Windows the folder of the executable.

#include <filesystem>
#include <string>

namespace vantor {

// The folder of the running executable.
std::filesystem::path executableDirectory();

// The full path of the running executable (empty when the platform cannot tell).
std::filesystem::path executablePath();

// The platform's default data directory (not created).
std::filesystem::path defaultDataDirectory();

// Creates `dir` (and parents) when missing; returns false when that fails.
bool ensureDirectory(const std::filesystem::path& dir);

// The platform's path separator, which decides whether a name is "a bare name" or a path.
#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
#else
inline constexpr char pathSeparator = '/';
#endif

// A path from the program's UTF-8 text and back. On Windows a narrow std::string path is taken in
// the ANSI code page, which would garble every name outside it.
std::filesystem::path pathFromText(const std::string& text);
std::string textFromPath(const std::filesystem::path& path);

// A name that contains the platform's separator is used as given; a bare name lies in `dataDir`.
std::filesystem::path resolveInDataDir(const std::filesystem::path& dataDir, const std::string& name);

}  // namespace vantor
