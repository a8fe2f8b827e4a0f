// The metrics text as Prometheus reads it (promtool's own check, when it is there), and the HTTP
// server that serves it: one scrape while another client holds a connection and sends nothing.
#include "service/Metrics.h"
#include "service/MetricsServer.h"

#include "platform/Process.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vantor;

namespace {

// Every sample line as "name{labels}" -> value; fails the test on a line that is not one.
std::map<std::string, std::string> samples(const std::string& text)
{
    std::map<std::string, std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the text ends without a line feed";
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t space = line.rfind(' ');
        EXPECT_NE(space, std::string::npos) << line;
        EXPECT_TRUE(out.emplace(line.substr(0, space), line.substr(space + 1)).second) << "twice: " << line;
    }
    return out;
}

MetricsSnapshot busySnapshot(bool perSession)
{
    MetricsSnapshot s;
    s.version = "1.2.3";
    s.perSession = perSession;
    EngineCounts& c = s.counts;
    c.pollOk = false;
    c.sessionsClosed = {11, 12, 13, 14};
    c.newUsers = 5;
    c.polls = 100;
    c.pollErrors = 7;
    c.recordsSkipped = 3;
    c.pollDurationBuckets[0] = 60;
    c.pollDurationBuckets[4] = 30;
    c.pollDurationBuckets.back() = 10;
    c.pollDurationSum = 123.5;
    c.mailsSent = 3;
    c.mailsFailed = 2;
    for (std::size_t i = 0; i < consoleCommandCount; ++i)
        c.consoleCommands[i] = 20 + i;
    auto table = std::make_shared<SessionsSnapshot>();
    table->rows = {
        {"alice", "10.0.0.1", 2}, {"alice", "10.0.0.1", 3},  // a second session of the same pair
        {"alice", "10.0.0.2", 1}, {"o\"brien\\x\nnew", "pc\"1", 4}, {std::string("bad\xff\xc0 byte"), "pc2", 0},
        {"", "10.0.0.9", 0}};
    table->currentSessionsCount = 9;
    table->openFilesTotal = 10;
    s.sessions = table;
    return s;
}

}  // namespace

TEST(Metrics, EveryCountReadsBackUnderItsNameAndLabels)
{
    const auto m = samples(formatMetrics(busySnapshot(false)));
    EXPECT_EQ(m.at("vantor_up"), "0");
    EXPECT_EQ(m.at("vantor_build_info{version=\"1.2.3\"}"), "1");
    EXPECT_EQ(m.at("vantor_sessions"), "9");
    EXPECT_EQ(m.at("vantor_open_files"), "10");
    EXPECT_EQ(m.at("vantor_users"), "3");  // alice once; the empty name is nobody's
    for (std::size_t i = 0; i < closeReasonCount; ++i)
        EXPECT_EQ(m.at(std::string("vantor_sessions_closed_total{reason=\"")
                       + closeReasonLabel(static_cast<CloseReason>(i)) + "\"}"),
                  std::to_string(11 + i));
    EXPECT_EQ(m.at("vantor_sessions_closed_total{reason=\"white_list\"}"), "12");
    EXPECT_EQ(m.at("vantor_new_users_total"), "5");
    EXPECT_EQ(m.at("vantor_polls_total"), "100");
    EXPECT_EQ(m.at("vantor_poll_errors_total"), "7");
    EXPECT_EQ(m.at("vantor_poll_failures_total"), "7");
    EXPECT_EQ(m.at("vantor_poll_records_skipped_total"), "3");
    EXPECT_EQ(m.at("vantor_mails_total{result=\"sent\"}"), "3");
    EXPECT_EQ(m.at("vantor_mails_total{result=\"failed\"}"), "2");
    EXPECT_EQ(m.at("vantor_console_commands_total{command=\"sess\"}"), "21");
    EXPECT_EQ(m.at("vantor_console_commands_total{command=\"close_all\"}"), "26");
    // Cumulative buckets; +Inf and _count hold every poll, the slowest too.
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_bucket{le=\"0.01\"}"), "60");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_bucket{le=\"0.1\"}"), "60");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_bucket{le=\"0.25\"}"), "90");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_bucket{le=\"30\"}"), "90");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_bucket{le=\"+Inf\"}"), "100");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_count"), "100");
    EXPECT_EQ(m.at("vantor_poll_duration_seconds_sum"), "123.5");
    for (const auto& [series, value] : m)
        EXPECT_EQ(series.rfind("vantor_session_open_files", 0), std::string::npos) << "per-session series while off";

    // Before the first poll there is no table yet: zeros, not a crash.
    MetricsSnapshot none;
    EXPECT_EQ(samples(formatMetrics(none)).at("vantor_sessions"), "0");
}

TEST(Metrics, PerSessionSeriesAreOnePerPairWithTheirNamesEscaped)
{
    const std::string text = formatMetrics(busySnapshot(true));
    const auto m = samples(text);
    EXPECT_EQ(m.at("vantor_session_open_files{user=\"alice\",computer=\"10.0.0.1\"}"), "5");
    EXPECT_EQ(m.at("vantor_session_open_files{user=\"alice\",computer=\"10.0.0.2\"}"), "1");
    EXPECT_EQ(m.at("vantor_session_open_files{user=\"o\\\"brien\\\\x\\nnew\",computer=\"pc\\\"1\"}"), "4");
    EXPECT_EQ(m.at("vantor_session_open_files{user=\"bad\xEF\xBF\xBD\xEF\xBF\xBD byte\",computer=\"pc2\"}"), "0");
    EXPECT_EQ(m.at("vantor_session_open_files{user=\"\",computer=\"10.0.0.9\"}"), "0");

    // Prometheus's own reading of the text, where it is installed.
    const std::string promtool = findProgram("promtool");
    if (promtool.find('/') == std::string::npos)
        GTEST_SKIP() << "promtool is not installed (Debian's prometheus package has it)";
    ProcessOptions o;
    o.input = text;
    const ProcessResult check = runProcess({promtool, "check", "metrics"}, o);
    EXPECT_TRUE(check.succeeded()) << check.out << check.err;
}

TEST(Metrics, AKeptPageIsGivenOnlyWhileNothingItShowsHasChanged)
{
    MetricsPages pages;
    MetricsSnapshot s = busySnapshot(false);
    EXPECT_EQ(pages.page(s), formatMetrics(s));
    for (auto change : std::vector<std::function<void(MetricsSnapshot&)>>{
             [](MetricsSnapshot& m) { ++m.counts.pollDurationBuckets[3]; },
             [](MetricsSnapshot& m) { m.perSession = true; },
             [](MetricsSnapshot& m) {
                 auto next = std::make_shared<SessionsSnapshot>(*m.sessions);  // the next poll's table
                 ++next->currentSessionsCount;
                 m.sessions = next;
             },
             [](MetricsSnapshot& m) { m.counts.pollOk = true; }}) {
        change(s);
        EXPECT_EQ(pages.page(s), formatMetrics(s));
    }
}

TEST(Metrics, LabelValuesAreEscapedAndMadeUtf8)
{
    EXPECT_EQ(escapeLabelValue("plain"), "plain");
    EXPECT_EQ(escapeLabelValue("a\\b\"c\nd\re\tf"), "a\\\\b\\\"c\\nd\re\tf");
    EXPECT_EQ(escapeLabelValue("J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80");
    // A cut sequence, an overlong form, a surrogate, and a lone continuation byte each become U+FFFD.
    EXPECT_EQ(escapeLabelValue("x\xC3"), "x\xEF\xBF\xBD");
    EXPECT_EQ(escapeLabelValue("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(escapeLabelValue("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(escapeLabelValue("\x80\""), "\xEF\xBF\xBD\\\"");
}

TEST(MetricsServer, ServesScrapesWhileAClientHoldsAConnectionAndRefusesATakenPort)
{
    std::atomic<int> scrapes{0};
    MetricsServer::Limits limits;
    limits.threads = 2;
    MetricsServer server(
        [&] {
            ++scrapes;
            return formatMetrics(busySnapshot(true));
        },
        limits);
    ASSERT_FALSE(server.start({"127.0.0.1", 0}));
    ASSERT_NE(server.port(), 0);

    // A client that connects and never sends a byte holds one of the two threads.
    const int idle = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(idle, 0);
    std::unique_ptr<const int, void (*)(const int*)> closeIdle(&idle, [](const int* fd) { ::close(*fd); });
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(idle, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);

    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(20));
    for (int i = 0; i < 3; ++i) {
        const auto reply = client.Get("/metrics");
        ASSERT_TRUE(reply) << httplib::to_string(reply.error());
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(reply->get_header_value("Content-Type"), metricsContentType);
        EXPECT_EQ(reply->body, formatMetrics(busySnapshot(true)));
    }
    EXPECT_EQ(scrapes, 3);
    const auto missing = client.Get("/");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);

    MetricsServer second([] { return std::string(); });
    const auto error = second.start({"127.0.0.1", server.port()});
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("127.0.0.1:" + std::to_string(server.port())), std::string::npos) << *error;
    EXPECT_FALSE(second.running());

    closeIdle.reset();
    const uint16_t port = server.port();
    server.stop();
    EXPECT_FALSE(server.running());
    EXPECT_FALSE(httplib::Client("127.0.0.1", port).Get("/metrics"));
}

TEST(MetricsServer, ACrowdOfIdleClientsGetsNoMoreThanItsFewConnections)
{
    const auto openDescriptors = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    MetricsServer::Limits limits;
    limits.threads = 1;
    limits.queued = 2;
    limits.ioTimeout = std::chrono::milliseconds(20000);
    MetricsServer server([] { return std::string("vantor_up 1\n"); }, limits);
    ASSERT_FALSE(server.start({"127.0.0.1", 0}));
    const std::size_t before = openDescriptors();

    constexpr int crowd = 200;
    std::vector<int> idle;
    std::unique_ptr<std::vector<int>, void (*)(std::vector<int>*)> closeAll(&idle, [](std::vector<int>* fds) {
        for (int fd : *fds)
            ::close(fd);
        fds->clear();
    });
    for (int i = 0; i < crowd; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS);
    }
    // What the server accepts shows as descriptors of this process beside the crowd's own.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t accepted = openDescriptors() - before - crowd;
    EXPECT_LE(accepted, limits.threads + limits.queued + 1);

    // Gone, they free the server for the next scrape at once.
    closeAll.reset();
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(20));
    const auto reply = client.Get("/metrics");
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(reply->body, "vantor_up 1\n");
}

// The dashboard and the alert rules ask only for series the service serves: a renamed series
// would leave a panel empty or an alert silent without a word.
TEST(MetricsContrib, EveryQueryOfTheDashboardAndTheRulesNamesAServedSeries)
{
    std::set<std::string> served;
    for (const auto& [series, value] : samples(formatMetrics(busySnapshot(true))))
        served.insert(series.substr(0, series.find('{')));
    const auto check = [&](const std::string& expr, const std::string& where) {
        static const std::regex name("vantor_[a-z_]+");
        int names = 0;
        for (auto it = std::sregex_iterator(expr.begin(), expr.end(), name); it != std::sregex_iterator();
             ++it, ++names)
            EXPECT_TRUE(served.count(it->str())) << where << ": " << it->str() << " is not served";
        EXPECT_GT(names, 0) << where << ": " << expr;
    };

    std::ifstream dashboardFile(VANTOR_CONTRIB_DIR "/grafana/vantor.json");
    ASSERT_TRUE(dashboardFile);
    const nlohmann::json dashboard = nlohmann::json::parse(dashboardFile);  // throws on a broken file
    ASSERT_TRUE(dashboard.at("panels").is_array());
    std::size_t queries = 0;
    for (const auto& panel : dashboard.at("panels"))
        for (const auto& target : panel.at("targets")) {
            check(target.at("expr").get<std::string>(), panel.at("title").get<std::string>());
            ++queries;
        }
    EXPECT_GE(queries, 12u);

    std::ifstream rules(VANTOR_CONTRIB_DIR "/prometheus/vantor.rules.yml");
    ASSERT_TRUE(rules);
    std::size_t exprs = 0;
    for (std::string line; std::getline(rules, line);)
        if (const auto at = line.find("expr:"); at != std::string::npos) {
            check(line.substr(at + 5), "vantor.rules.yml");
            ++exprs;
        }
    EXPECT_EQ(exprs, 4u);
}
