#include "platform/AtomicFile.h"

#include "platform/AtomicFileOs.h"
#include "platform/SystemError.h"

#include <array>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <streambuf>

namespace vantor {

namespace {

constexpr std::size_t randomLength = 12;
constexpr const char* randomAlphabet = "abcdefghijklmnopqrstuvwxyz234567";
constexpr const char* temporarySuffix = ".tmp";
// A temporary file younger than this may belong to a writer in another process that is still at
// work; an older one is a crash's leftover.
constexpr auto leftoverAge = std::chrono::minutes(2);

// The temporary files that writers of this process are filling right now: the clean-up of
// leftovers must not pull one away from under its writer.
struct LiveTemporaries {
    std::mutex mutex;
    std::set<std::filesystem::path> paths;
};
LiveTemporaries& liveTemporaries()
{
    static LiveTemporaries live;
    return live;
}

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".";
}

std::string randomPart()
{
    // random_device reads the system's entropy source: the name cannot be guessed from the time
    // or the process id, so nobody can plant something at it beforehand.
    thread_local std::random_device device;
    std::string text(randomLength, 'a');
    for (char& c : text)
        c = randomAlphabet[device() % 32];
    return text;
}

std::filesystem::path folderOf(const std::filesystem::path& target)
{
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

void removeLeftovers(const std::filesystem::path& target)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(folderOf(target), ec);
    if (ec)
        return;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            return;
        const std::filesystem::path candidate = it->path();
        if (!isAtomicTemporaryName(target, candidate.filename().string()))
            continue;
        {
            std::lock_guard lock(liveTemporaries().mutex);
            if (liveTemporaries().paths.count(candidate))
                continue;
        }
        std::error_code timeError;
        // The link itself, not what it points at.
        const auto status = std::filesystem::symlink_status(candidate, timeError);
        const bool isLink = !timeError && std::filesystem::is_symlink(status);
        const auto written = isLink ? now - leftoverAge : std::filesystem::last_write_time(candidate, timeError);
        if (timeError || now - written < leftoverAge)
            continue;
        std::error_code removeError;
        std::filesystem::remove(candidate, removeError);
    }
}

}  // namespace

bool isAtomicTemporaryName(const std::filesystem::path& target, const std::string& name)
{
    const std::string prefix = temporaryPrefix(target);
    const std::string suffix = temporarySuffix;
    if (name.size() != prefix.size() + randomLength + suffix.size() || name.compare(0, prefix.size(), prefix) != 0
        || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string_view middle(name.data() + prefix.size(), randomLength);
    return middle.find_first_not_of(randomAlphabet) == std::string_view::npos;
}

struct AtomicFile::Impl : std::streambuf {
    std::filesystem::path target;
    std::filesystem::path temporary;
    atomicfile::OsFile file;
    std::string error;
    std::array<char, 64 * 1024> buffer{};
    std::ostream out{this};
    bool committed = false;

    void fail(const std::string& what, int code)
    {
        if (error.empty())
            error = "cannot write " + target.string() + ": " + what + (code ? systemErrorText(code) : std::string());
        out.setstate(std::ios::badbit);
    }

    bool drain()
    {
        const auto pending = static_cast<std::size_t>(pptr() - pbase());
        setp(buffer.data(), buffer.data() + buffer.size());
        if (pending == 0)
            return error.empty();
        if (!error.empty() || !file.isOpen())
            return false;
        if (const int code = atomicfile::writeAll(file, buffer.data(), pending)) {
            fail("", code);
            return false;
        }
        return true;
    }

    int_type overflow(int_type ch) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    int sync() override { return drain() ? 0 : -1; }

    void startBuffer() { setp(buffer.data(), buffer.data() + buffer.size()); }

    void forget()
    {
        std::lock_guard lock(liveTemporaries().mutex);
        liveTemporaries().paths.erase(temporary);
    }
};

AtomicFile::AtomicFile(std::filesystem::path target)
    : m_impl(std::make_unique<Impl>())
{
    Impl& d = *m_impl;
    d.target = std::move(target);
    d.startBuffer();
    removeLeftovers(d.target);
    // A clash with an existing name is all but impossible with 60 random bits; a few tries cover it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        auto candidate = folderOf(d.target) / (temporaryPrefix(d.target) + randomPart() + temporarySuffix);
        {
            std::lock_guard lock(liveTemporaries().mutex);
            liveTemporaries().paths.insert(candidate);
        }
        const int code = atomicfile::createExclusive(candidate, d.file);
        if (code == 0) {
            d.temporary = std::move(candidate);
            return;
        }
        {
            std::lock_guard lock(liveTemporaries().mutex);
            liveTemporaries().paths.erase(candidate);
        }
        if (!atomicfile::isExistsError(code)) {
            d.fail("", code);
            return;
        }
    }
    d.fail("no fresh temporary name in its folder", 0);
}

AtomicFile::~AtomicFile()
{
    Impl& d = *m_impl;
    atomicfile::closeQuietly(d.file);
    if (!d.temporary.empty() && !d.committed) {
        std::error_code ec;
        std::filesystem::remove(d.temporary, ec);
    }
    d.forget();
}

bool AtomicFile::isOpen() const
{
    return m_impl->file.isOpen();
}

std::ostream& AtomicFile::stream()
{
    return m_impl->out;
}

std::optional<std::string> AtomicFile::commit()
{
    Impl& d = *m_impl;
    if (d.error.empty() && !d.file.isOpen())
        d.fail("the file is closed already", 0);
    if (d.error.empty())
        d.out.flush();
    if (d.error.empty() && d.out.fail())
        d.fail("the content could not be made", 0);
    if (d.error.empty()) {
        atomicfile::keepAttributesOf(d.target, d.file);
        if (const int code = atomicfile::syncAndClose(d.file))
            d.fail("", code);
    }
    if (d.error.empty()) {
        if (const int code = atomicfile::replace(d.temporary, d.target))
            d.fail("", code);
        else
            d.committed = true;
    }
    atomicfile::closeQuietly(d.file);
    if (!d.committed && !d.temporary.empty()) {
        std::error_code ec;
        std::filesystem::remove(d.temporary, ec);
    }
    d.forget();
    if (!d.error.empty())
        return d.error;
    return std::nullopt;
}

const std::string& AtomicFile::error() const
{
    return m_impl->error;
}

const std::filesystem::path& AtomicFile::target() const
{
    return m_impl->target;
}

const std::filesystem::path& AtomicFile::temporaryPath() const
{
    return m_impl->temporary;
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view content)
{
    AtomicFile file(path);
    if (!file.isOpen())
        return file.error();
    file.stream().write(content.data(), static_cast<std::streamsize>(content.size()));
    return file.commit();
}

std::optional<std::string> appendToFile(const std::filesystem::path& path, std::string_view content)
{
    atomicfile::OsFile file;
    int code = atomicfile::openForAppend(path, file);
    if (code == 0) {
        code = atomicfile::appendAll(file, content.data(), content.size());
        atomicfile::closeQuietly(file);
    }
    if (code)
        return "cannot write " + path.string() + ": " + systemErrorText(code);
    return std::nullopt;
}

}  // namespace vantor
