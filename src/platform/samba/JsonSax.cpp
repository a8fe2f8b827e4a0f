#include "platform/samba/JsonSax.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace vantor::samba {

namespace {

using Json = nlohmann::json;

enum class Step { Go, Stop, Undecided };

class QuickReader {
public:
    QuickReader(std::string_view json, nlohmann::json_sax<Json>& handler)
        : m_at(json.data())
        , m_end(json.data() + json.size())
        , m_handler(handler)
    {
    }

    JsonSaxOutcome read()
    {
        // The library skips a byte order mark, and refuses a broken one.
        if (m_at != m_end && static_cast<unsigned char>(*m_at) == 0xEF)
            return JsonSaxOutcome::Undecided;
        // Containers are kept on a stack of our own, as the library does: no depth of nesting
        // runs this thread's stack out.
        std::vector<bool> inObject;
        for (;;) {
            // A value starts here.
            skipSpace();
            if (m_at == m_end)
                return JsonSaxOutcome::Undecided;
            Step step = Step::Go;
            bool opened = false;
            switch (*m_at) {
            case '{':
                ++m_at;
                if (!m_handler.start_object(static_cast<std::size_t>(-1)))
                    return JsonSaxOutcome::Stopped;
                skipSpace();
                if (m_at != m_end && *m_at == '}') {
                    ++m_at;
                    step = m_handler.end_object() ? Step::Go : Step::Stop;
                } else {
                    inObject.push_back(true);
                    step = key();
                    opened = true;
                }
                break;
            case '[':
                ++m_at;
                if (!m_handler.start_array(static_cast<std::size_t>(-1)))
                    return JsonSaxOutcome::Stopped;
                skipSpace();
                if (m_at != m_end && *m_at == ']') {
                    ++m_at;
                    step = m_handler.end_array() ? Step::Go : Step::Stop;
                } else {
                    inObject.push_back(false);
                    opened = true;
                }
                break;
            case '"':
                step = string();
                if (step == Step::Go)
                    step = m_handler.string(m_text) ? Step::Go : Step::Stop;
                break;
            case 't':
                step = literal("true") ? (m_handler.boolean(true) ? Step::Go : Step::Stop) : Step::Undecided;
                break;
            case 'f':
                step = literal("false") ? (m_handler.boolean(false) ? Step::Go : Step::Stop) : Step::Undecided;
                break;
            case 'n':
                step = literal("null") ? (m_handler.null() ? Step::Go : Step::Stop) : Step::Undecided;
                break;
            default:
                step = number();
            }
            if (step != Step::Go)
                return step == Step::Stop ? JsonSaxOutcome::Stopped : JsonSaxOutcome::Undecided;
            if (opened)
                continue;

            // A value ended: close what it ends, up to the next value.
            for (;;) {
                skipSpace();
                if (inObject.empty())
                    return m_at == m_end ? JsonSaxOutcome::Read : JsonSaxOutcome::Undecided;
                if (m_at == m_end)
                    return JsonSaxOutcome::Undecided;
                const char c = *m_at++;
                if (c == ',') {
                    step = inObject.back() ? key() : Step::Go;
                    if (step != Step::Go)
                        return step == Step::Stop ? JsonSaxOutcome::Stopped : JsonSaxOutcome::Undecided;
                    break;
                }
                if (c != (inObject.back() ? '}' : ']'))
                    return JsonSaxOutcome::Undecided;
                const bool ended = inObject.back() ? m_handler.end_object() : m_handler.end_array();
                inObject.pop_back();
                if (!ended)
                    return JsonSaxOutcome::Stopped;
            }
        }
    }

private:
    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }

    // A member's name and its colon.
    Step key()
    {
        skipSpace();
        if (m_at == m_end || *m_at != '"')
            return Step::Undecided;
        const Step step = string();
        if (step != Step::Go)
            return step;
        if (!m_handler.key(m_text))
            return Step::Stop;
        skipSpace();
        if (m_at == m_end || *m_at != ':')
            return Step::Undecided;
        ++m_at;
        return Step::Go;
    }

    // The text at m_at, its quotes included, into m_text.
    Step string()
    {
        m_text.clear();
        ++m_at;
        for (;;) {
            const char* run = m_at;
            while (m_at != m_end) {
                const auto c = static_cast<unsigned char>(*m_at);
                if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80)
                    break;
                ++m_at;
            }
            m_text.append(run, m_at);
            if (m_at == m_end)
                return Step::Undecided;
            const auto c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                ++m_at;
                return Step::Go;
            }
            if (c == '\\') {
                if (m_end - m_at < 2)
                    return Step::Undecided;
                char plain = 0;
                switch (m_at[1]) {
                case '"':
                    plain = '"';
                    break;
                case '\\':
                    plain = '\\';
                    break;
                case '/':
                    plain = '/';
                    break;
                case 'b':
                    plain = '\b';
                    break;
                case 'f':
                    plain = '\f';
                    break;
                case 'n':
                    plain = '\n';
                    break;
                case 'r':
                    plain = '\r';
                    break;
                case 't':
                    plain = '\t';
                    break;
                default:
                    return Step::Undecided;  // \u and its surrogate pairs: the library's
                }
                m_text.push_back(plain);
                m_at += 2;
                continue;
            }
            if (c < 0x80)
                return Step::Undecided;  // a control character the document should have escaped
            const std::size_t length = utf8Length();
            if (length == 0)
                return Step::Undecided;
            m_text.append(m_at, length);
            m_at += length;
        }
    }

    // The length of the well-formed UTF-8 sequence at m_at (RFC 3629, as the library checks it),
    // or 0.
    std::size_t utf8Length() const
    {
        const auto byte = [&](std::size_t i) -> unsigned {
            return m_at + i < m_end ? static_cast<unsigned char>(m_at[i]) : 0u;
        };
        const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
        const unsigned c = byte(0);
        if (in(c, 0xC2, 0xDF))
            return in(byte(1), 0x80, 0xBF) ? 2 : 0;
        if (in(c, 0xE0, 0xEF)) {
            const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        }
        if (in(c, 0xF0, 0xF4)) {
            const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    bool literal(std::string_view word)
    {
        if (static_cast<std::size_t>(m_end - m_at) < word.size() || std::string_view(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, as the library types it: a whole number is
    // unsigned without a sign, signed with one.
    Step number()
    {
        const char* start = m_at;
        const bool negative = *m_at == '-';
        if (negative)
            ++m_at;
        const auto digit = [&] { return m_at != m_end && *m_at >= '0' && *m_at <= '9'; };
        if (!digit())
            return Step::Undecided;
        uint64_t value = 0;
        bool tooLarge = false;
        if (*m_at == '0') {
            ++m_at;
        } else {
            while (digit()) {
                const auto d = static_cast<uint64_t>(*m_at - '0');
                if (value > (std::numeric_limits<uint64_t>::max() - d) / 10)
                    tooLarge = true;
                value = value * 10 + d;
                ++m_at;
            }
        }
        bool whole = true;
        if (m_at != m_end && *m_at == '.') {
            ++m_at;
            if (!digit())
                return Step::Undecided;
            while (digit())
                ++m_at;
            whole = false;
        }
        if (m_at != m_end && (*m_at == 'e' || *m_at == 'E')) {
            ++m_at;
            if (m_at != m_end && (*m_at == '+' || *m_at == '-'))
                ++m_at;
            if (!digit())
                return Step::Undecided;
            while (digit())
                ++m_at;
            whole = false;
        }
        if (whole) {
            // Out of range the library reads a floating-point number instead: left to it.
            if (tooLarge)
                return Step::Undecided;
            if (!negative)
                return m_handler.number_unsigned(value) ? Step::Go : Step::Stop;
            constexpr auto limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
            if (value > limit)
                return Step::Undecided;
            const int64_t signedValue =
                value == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(value);
            return m_handler.number_integer(signedValue) ? Step::Go : Step::Stop;
        }
        m_text.assign(start, m_at);
        const double real = std::strtod(m_text.c_str(), nullptr);
        if (!std::isfinite(real))
            return Step::Undecided;  // the library's "number overflow"
        return m_handler.number_float(real, m_text) ? Step::Go : Step::Stop;
    }

    const char* m_at;
    const char* m_end;
    nlohmann::json_sax<Json>& m_handler;
    std::string m_text;
};

}  // namespace

JsonSaxOutcome quickSaxParse(std::string_view json, nlohmann::json_sax<Json>& handler)
{
    return QuickReader(json, handler).read();
}

}  // namespace vantor::samba
