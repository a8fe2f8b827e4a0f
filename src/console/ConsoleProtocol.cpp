#include "console/ConsoleProtocol.h"

#include <charconv>
#include <cstring>

namespace vantor::console {

namespace {

// The white space of the C library's "%s" conversion in the "C" locale.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text of a message runs up to its first NUL byte or to the end of the received bytes.
std::string_view textOf(std::string_view bytes)
{
    const auto nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

template <typename T> std::optional<T> parseNumber(std::string_view text)
{
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end)
        return std::nullopt;
    return value;
}

}  // namespace

bool startsWithWord(std::string_view message, const CommandWord& word)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = i < message.size() ? message[i] : '\0';
        if (c != word.key[i])
            return false;
    }
    return true;
}

CommandRequest parseCommandRequest(std::string_view received)
{
    using Kind = CommandRequest::Kind;
    if (startsWithWord(received, wordSess))
        return {Kind::Sessions};
    if (startsWithWord(received, wordReport))
        return {Kind::Report};
    if (startsWithWord(received, wordId))
        return {Kind::Identity};
    if (startsWithWord(received, wordDelLogs))
        return {Kind::DeleteLogs};
    if (received.empty())
        return {};
    if (received[0] == closeSessionRequest) {
        const auto w = words(textOf(received.substr(1)));
        // A closing with a missing name, or a name no session can have, is not guessed at.
        if (w.size() < 2 || w[0].size() > maxNameLength || w[1].size() > maxNameLength)
            return {};
        return {Kind::CloseSession, std::string(w[0]), std::string(w[1])};
    }
    if (received[0] == closeAllRequest)
        return {Kind::CloseAll};
    return {};
}

bool isDiscoveryRequest(std::string_view datagram)
{
    return startsWithWord(datagram, wordList);
}

bool isReportWanted(std::string_view answer)
{
    return startsWithWord(answer, wordRep);
}

std::string identityName(const std::string& hostName)
{
    if (hostName.empty())
        return "   ";
    std::string name = hostName;
    for (char& c : name) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

int signedByte(uint32_t count)
{
    return static_cast<int8_t>(static_cast<uint8_t>(count & 0xFFu));
}

std::string identityMessage(const std::string& hostName, uint32_t sessions, uint32_t openFiles)
{
    std::string m(1, identityReply);
    m += identityName(hostName);
    m += ' ';
    m += std::to_string(signedByte(sessions));
    m += ' ';
    m += std::to_string(signedByte(openFiles));
    m += '\0';
    return m;
}

std::string sessionRowMessage(const SessionEntry& row)
{
    std::string m(1, sessionRow);
    m += row.user;
    m += ' ';
    m += row.computer;
    m += ' ';
    m += std::to_string(row.openFiles);
    m += '\0';
    return m;
}

std::string sessionsEndMessage()
{
    return std::string(1, sessionsEnd);
}

std::string reportSizeMessage(uint32_t size)
{
    std::string m(1, reportSize);
    m += std::to_string(size);
    m += '\0';
    return m;
}

std::string closeSessionMessage(const std::string& user, const std::string& computer)
{
    std::string m(1, closeSessionRequest);
    m += user;
    m += ' ';
    m += computer;
    m += '\0';
    return m;
}

std::string closeAllMessage()
{
    return std::string(1, closeAllRequest);
}

std::string commandMessage(const CommandWord& word)
{
    return std::string(word.text, std::strlen(word.text) + 1);
}

std::optional<Identity> parseIdentityReply(std::string_view message)
{
    if (message.empty() || message[0] != identityReply)
        return std::nullopt;
    const std::string_view text = textOf(message.substr(1));
    const auto lastBlank = text.rfind(' ');
    if (lastBlank == std::string_view::npos || lastBlank == 0)
        return std::nullopt;
    const auto middleBlank = text.rfind(' ', lastBlank - 1);
    if (middleBlank == std::string_view::npos)
        return std::nullopt;
    const auto sessions = parseNumber<int>(text.substr(middleBlank + 1, lastBlank - middleBlank - 1));
    const auto files = parseNumber<int>(text.substr(lastBlank + 1));
    if (!sessions || !files)
        return std::nullopt;
    return Identity{std::string(text.substr(0, middleBlank)), *sessions, *files};
}

std::optional<SessionEntry> parseSessionRowText(std::string_view text)
{
    const auto firstBlank = text.find(' ');
    const auto lastBlank = text.rfind(' ');
    if (firstBlank == std::string_view::npos || lastBlank == firstBlank)
        return std::nullopt;
    const auto files = parseNumber<uint32_t>(text.substr(lastBlank + 1));
    if (!files)
        return std::nullopt;
    return SessionEntry{std::string(text.substr(0, firstBlank)),
                        std::string(text.substr(firstBlank + 1, lastBlank - firstBlank - 1)), *files};
}

SessionsReplyReader::State SessionsReplyReader::feed(std::string_view bytes)
{
    // A row is at most 1 + 255 + 1 + 255 + 1 + 10 + 1 bytes; anything much longer without its NUL
    // is not this protocol.
    constexpr std::size_t longestRow = 4096;
    if (m_state != State::Reading)
        return m_state;
    m_pending.append(bytes);
    std::size_t pos = 0;
    while (pos < m_pending.size() && m_state == State::Reading) {
        const char marker = m_pending[pos];
        if (marker == sessionsEnd) {
            m_state = State::Done;
            ++pos;
            break;
        }
        if (marker != sessionRow) {
            m_state = State::Malformed;
            break;
        }
        const auto nul = m_pending.find('\0', pos + 1);
        // The same limit whether or not the NUL has arrived yet, so the pieces the bytes come in
        // cannot change the outcome.
        if ((nul == std::string::npos ? m_pending.size() : nul) - pos > longestRow) {
            m_state = State::Malformed;
            break;
        }
        if (nul == std::string::npos)
            break;
        auto row = parseSessionRowText(std::string_view(m_pending).substr(pos + 1, nul - pos - 1));
        if (!row) {
            m_state = State::Malformed;
            break;
        }
        if (m_rows.size() == maxSessionRows) {
            m_state = State::Malformed;
            break;
        }
        m_rows.push_back(std::move(*row));
        pos = nul + 1;
    }
    m_pending.erase(0, pos);
    return m_state;
}

std::optional<uint32_t> parseReportSizeReply(std::string_view message)
{
    if (message.size() < 3 || message[0] != reportSize || message.back() != '\0')
        return std::nullopt;
    return parseNumber<uint32_t>(message.substr(1, message.size() - 2));
}

}  // namespace vantor::console
