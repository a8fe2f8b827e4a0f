// The texts and orders every face shows of the session details, the open files and the shares:
// the windows' tests check only that each shows them where it should.
#include "DetailedSessions.h"
#include "monitor/DetailsText.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

constexpr int64_t now = 1'800'000'000;

SessionEntry entry(const FakeSession& s)
{
    return {s.user, s.computer, static_cast<uint32_t>(s.files.size()), s.details};
}

std::vector<std::string> texts(const std::vector<SessionEntry>& rows, SessionDetailColumn c)
{
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(sessionDetailText(r.details, c, now));
    return out;
}

using Strings = std::vector<std::string>;
using Order = std::vector<std::size_t>;

}  // namespace

TEST(DetailsText, SessionDetailsTheirTooltipAndTheirOrder)
{
    const std::vector<SessionEntry> rows = {entry(detailedSession("carol", "pc3", {}, now - 7200)),
                                            entry(detailedSession("bob", "pc2", {"docs"}, now - 60)),
                                            entry(detailedSession("alice", "pc1", {"docs", "media"}, now - 3725))};
    EXPECT_EQ(texts(rows, SessionDetailColumn::Shares), (Strings{"", "docs", "docs, media"}));
    EXPECT_EQ(texts(rows, SessionDetailColumn::ConnectedTime), (Strings{"02:00:00", "00:01:00", "01:02:05"}));
    // A detail the service did not tell is no line of the tooltip.
    const std::string tip = sessionTooltip(rows[2], now);
    EXPECT_EQ(tip.rfind("alice on pc1\n", 0), 0u) << tip;
    EXPECT_NE(tip.find("\nShares: docs, media"), std::string::npos) << tip;
    EXPECT_NE(tip.find("\nProtocol: SMB3_11"), std::string::npos) << tip;
    EXPECT_EQ(tip.find("Idle time"), std::string::npos) << tip;

    // The times as numbers, longest last; a row without the detail last whichever way.
    const int time = 3 + static_cast<int>(SessionDetailColumn::ConnectedTime);
    const int shares = 3 + static_cast<int>(SessionDetailColumn::Shares);
    EXPECT_EQ(sessionRowOrder(rows, time, false, now), (Order{1, 2, 0}));
    EXPECT_EQ(sessionRowOrder(rows, time, true, now), (Order{0, 2, 1}));
    EXPECT_EQ(sessionRowOrder(rows, shares, false, now), (Order{1, 2, 0}));
    EXPECT_EQ(sessionRowOrder(rows, shares, true, now), (Order{2, 1, 0}));

    SessionsSnapshot snapshot;
    snapshot.rows = {rows[1], rows[2]};
    snapshot.rows[1].openFiles = 1;
    EXPECT_EQ(countsText(snapshot), "2 sessions, 1 open file");
    snapshot.rows = {rows[1]};
    EXPECT_EQ(countsText(snapshot), "1 session, 0 open files");
}

TEST(DetailsText, OpenFilesTheirFilterOrderAndStatus)
{
    std::vector<NetFileInfo> files = {
        sharedFile(11, "docs", "finance/budget.ods", true), sharedFile(12, "docs", "finance/budget.ods", false),
        sharedFile(13, "docs", "notes.txt", false), sharedFile(14, "media", "intro.mp4", false)};
    const Strings users = {"alice", "bob", "bob", "carol"}, computers = {"pc1", "pc2", "pc2", "10.0.0.9"};
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].user = users[i];
        files[i].computer = computers[i];
    }
    EXPECT_EQ(openFileText(files[0], OpenFileColumn::File), "finance/budget.ods");
    EXPECT_EQ(openFileText(files[0], OpenFileColumn::Access), "read/write");
    EXPECT_EQ(openFileText(files[1], OpenFileColumn::Access), "read");
    EXPECT_EQ(openFileText(files[0], OpenFileColumn::DenyMode), "write");
    EXPECT_EQ(openFileText(files[1], OpenFileColumn::DenyMode), "none");

    // "Who holds budget.ods open?": the path, share, user or computer, in any case.
    auto matching = [&](const std::string& filter) {
        Order out;
        for (std::size_t i = 0; i < files.size(); ++i)
            if (openFileMatches(files[i], filter))
                out.push_back(i);
        return out;
    };
    EXPECT_EQ(matching("BUDGET"), (Order{0, 1}));
    EXPECT_EQ(matching("10.0.0"), (Order{3}));
    EXPECT_EQ(matching("Media"), (Order{3}));
    EXPECT_EQ(matching(""), (Order{0, 1, 2, 3}));
    // Ties keep the service's order.
    EXPECT_EQ(openFileOrder(files, OpenFileColumn::Access, false), (Order{1, 2, 3, 0}));
    EXPECT_EQ(openFileOrder(files, OpenFileColumn::User, true), (Order{3, 1, 2, 0}));

    EXPECT_EQ(openFilesStatus(true, "", 2, 4), "2 of 4 open files");
    EXPECT_EQ(openFilesStatus(false, "Listing was refused.", 0, 0), "Listing was refused.");
}

TEST(DetailsText, SharesTheirConnectionsClientsAndFolders)
{
    const std::vector<SessionEntry> rows = {entry(detailedSession("bob", "pc2", {"docs"}, now)),
                                            entry(detailedSession("alice", "pc1", {"docs", "media"}, now))};
    const std::vector<NetFileInfo> files = {sharedFile(1, "docs", "a.txt", false)};
    // The folder from the open files, else none.
    const auto uses = shareUses(rows, files);
    EXPECT_EQ(uses, (std::vector<ShareUse>{{"docs", "/srv/docs", 2, {"bob@pc2", "alice@pc1"}},
                                           {"media", "", 1, {"alice@pc1"}}}));
    EXPECT_EQ(shareText(uses[0], ShareColumn::Connections), "2");
    EXPECT_EQ(shareText(uses[0], ShareColumn::Clients), "bob@pc2, alice@pc1");
    EXPECT_EQ(shareText(uses[0], ShareColumn::Clients, "\n"), "bob@pc2\nalice@pc1");
    // The server's configuration names a share's folder, whatever the case of its name.
    EXPECT_EQ(shareUses(rows, files, {{"MEDIA", "/data/media"}, {"docs", "/srv/docs"}})[1].path, "/data/media");
}
