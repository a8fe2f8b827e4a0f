#include "platform/samba/JsonSax.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vantor::samba;
using Json = nlohmann::json;

namespace {

// Writes down every event; refuses the one numbered `refuseAt` (none when negative).
class Recorder final : public nlohmann::json_sax<Json> {
public:
    explicit Recorder(long refuseAt = -1)
        : m_refuseAt(refuseAt)
    {
    }
    std::vector<std::string> events;

    bool null() override { return take("null"); }
    bool boolean(bool v) override { return take(v ? "true" : "false"); }
    bool number_integer(number_integer_t v) override { return take("int " + std::to_string(v)); }
    bool number_unsigned(number_unsigned_t v) override { return take("unsigned " + std::to_string(v)); }
    bool number_float(number_float_t v, const string_t& s) override
    {
        return take("float " + std::to_string(v) + " " + s);
    }
    bool string(string_t& v) override { return take("string " + std::move(v)); }
    bool binary(binary_t&) override { return take("binary"); }
    bool start_object(std::size_t n) override { return take("{ " + std::to_string(n)); }
    bool key(string_t& k) override { return take("key " + std::move(k)); }
    bool end_object() override { return take("}"); }
    bool start_array(std::size_t n) override { return take("[ " + std::to_string(n)); }
    bool end_array() override { return take("]"); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        events.push_back("error");
        return false;
    }

private:
    bool take(std::string e)
    {
        events.push_back(std::move(e));
        return static_cast<long>(events.size()) - 1 != m_refuseAt;
    }
    long m_refuseAt;
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The quick reader against the library on one document: whatever it decides itself, it decides as
// the library does, with the same events. Returns its outcome.
JsonSaxOutcome compareWithLibrary(const std::string& doc, long refuseAt = -1)
{
    Recorder quick(refuseAt), library(refuseAt);
    const JsonSaxOutcome outcome = quickSaxParse(doc, quick);
    const bool libraryRead = Json::sax_parse(doc.begin(), doc.end(), &library);
    if (outcome == JsonSaxOutcome::Undecided)
        return outcome;
    EXPECT_EQ(libraryRead, outcome == JsonSaxOutcome::Read) << doc;
    EXPECT_EQ(quick.events, library.events) << doc;
    return outcome;
}

}  // namespace

// The recorded documents and the fuzz corpus, whole, cut short at every byte, with one byte
// replaced at every place by bytes that change their syntax, and refused at every event.
TEST(JsonSax, ReadsAsTheLibraryDoesOrLeavesTheDocumentToIt)
{
    std::vector<std::string> docs;
    for (const auto& e : std::filesystem::directory_iterator(VANTOR_TEST_DATA "/../fuzz/corpus/smbstatus"))
        docs.push_back(readFile(e.path()));
    ASSERT_GT(docs.size(), 5u);
    EXPECT_EQ(compareWithLibrary(readFile(VANTOR_TEST_DATA "/samba/smbstatus-small.json")), JsonSaxOutcome::Read);

    const std::string replacements[] = {"\"",
                                        "\\",
                                        ",",
                                        "}",
                                        "]",
                                        "{",
                                        "0",
                                        "-",
                                        "e",
                                        ".",
                                        " ",
                                        "\x01",
                                        "\x80",
                                        "\xC3",
                                        "\xED\xA0\x80",
                                        "\xF4\x90\x80\x80",
                                        "\xEF\xBB\xBF",
                                        "\\u00e9",
                                        "\\ud83d\\ude00",
                                        "1e999",
                                        "18446744073709551616",
                                        "-9223372036854775809",
                                        "-9223372036854775808",
                                        "tru",
                                        "nul"};
    std::size_t read = 0, undecided = 0;
    for (const std::string& doc : docs) {
        const std::size_t step = doc.size() > 1000 ? 53 : 1;
        for (std::size_t at = 0; at <= doc.size(); at += step) {
            (compareWithLibrary(doc.substr(0, at)) == JsonSaxOutcome::Undecided ? undecided : read)++;
            if (at == doc.size())
                break;
            for (const std::string& r : replacements) {
                std::string changed = doc;
                changed.replace(at, 1, r);
                (compareWithLibrary(changed) == JsonSaxOutcome::Undecided ? undecided : read)++;
            }
        }
        Recorder all;
        if (quickSaxParse(doc, all) == JsonSaxOutcome::Read) {
            for (long k = 0; k < static_cast<long>(all.events.size()); ++k)
                EXPECT_EQ(compareWithLibrary(doc, k), JsonSaxOutcome::Stopped);
        }
    }
    // Both ways were taken, many times over.
    EXPECT_GT(read, 1000u);
    EXPECT_GT(undecided, 1000u);
}

TEST(JsonSax, ReadsWhatTheLibraryReadsOfScalarsAndNesting)
{
    for (const std::string& doc : std::vector<std::string>{
             "0", "-0", "18446744073709551615", "-9223372036854775808", "1.5e-3", "-0.0E+2",
             "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\x7F\"",
             " \t\r\n[true,false,null,{},[],{\"a\":[{}]}] \n", std::string(5000, '[') + std::string(5000, ']')})
        EXPECT_EQ(compareWithLibrary(doc), JsonSaxOutcome::Read) << doc;
}
