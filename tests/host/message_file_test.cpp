// The answering machine's file read back: whole messages as they stand, damaged or half-written
// parts kept aside (never shown as someone's lines, never lost when the file is written again).
#include "app/MessageFile.h"

#include <gtest/gtest.h>

namespace {

const std::string kHeader = "#\t2026-12-08\t10:15:03\tnorth\t127.0.0.1\tplain\tnew\r\n";
const std::string kSecureRead = "#\t2026-12-08\t10:16:00\t\t::1\tsecure 123 456\tread\r\n";

// "name address code unread [line|line]" for each message, then the count of damaged lines.
std::string Summary(const CMessageFile& file)
{
    std::string s;
    for (const CStoredMessage& m : file.messages) {
        s += m.strDate.str() + " " + m.strTime.str() + " " + m.strName.str() + " " + m.strAddress.str() +
            " " + (m.strCode.IsEmpty() ? "plain" : m.strCode.str()) + (m.bUnread ? " new [" : " read [");
        for (size_t i = 0; i < m.lines.size(); ++i) s += (i ? "|" : "") + m.lines[i].str();
        s += "]; ";
    }
    return s + "damaged " + std::to_string(file.nDamagedLines);
}

TEST(MessageFile, ReadsWhatIsWholeAndKeepsTheRest)
{
    const struct {
        const char* what;
        std::string bytes;
        std::string summary;
    } cases[] = {
        { "empty file", "", "damaged 0" },
        { "two messages", kHeader + "\tone\r\n\ttwo\r\n" + kSecureRead + "\t\r\n",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new [one|two]; "
            "2026-12-08 10:16:00  ::1 123 456 read []; damaged 0" },
        { "killed in the middle of a line: the line cut short is not shown", kHeader + "\tone\r\n\ttw",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new [one]; damaged 1" },
        { "killed in the middle of a header", kHeader + "\tone\r\n#\t2026-12",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new [one]; damaged 1" },
        { "a damaged header hides the lines under it until the next whole one",
            kHeader + "\tone\r\n#\t2026-1x-08\t10:15:03\ta\tb\tplain\tnew\r\n\tnot north's\r\n" +
                kSecureRead + "\tthree\r\n",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new [one]; "
            "2026-12-08 10:16:00  ::1 123 456 read [three]; damaged 2" },
        { "lines before any header", "\torphan\r\ngarbage\r\n" + kHeader,
            "2026-12-08 10:15:03 north 127.0.0.1 plain new []; damaged 2" },
        { "a stray line break or a line of no kind", kHeader + "\ta\rb\r\n\tc\nd\r\nxyz\r\n\tafter\r\n",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new []; damaged 4" },
        { "a line with a tab of its own: the message is read as far as it is whole",
            kHeader + "\tone\r\n\ta\tb\r\n\tafter\r\n",
            "2026-12-08 10:15:03 north 127.0.0.1 plain new [one]; damaged 2" },
        { "headers with a field too many, too few, an unknown mark",
            "#\t2026-12-08\t10:15:03\tn\ta\tplain\tnew\textra\r\n#\t2026-12-08\t10:15:03\tn\tplain\tnew\r\n"
            "#\t2026-12-08\t10:15:03\tn\ta\tsecure \tnew\r\n#\t2026-12-08\t10:15:03\tn\ta\tplain\tseen\r\n",
            "damaged 4" },
        { "zero bytes and bytes that are no text stay inside their line",
            kHeader + std::string("\tz\0z\r\n", 6) + "\t\x82\xa0\xff\r\n",
            std::string("2026-12-08 10:15:03 north 127.0.0.1 plain new [z\0z|\x82\xa0\xff]; damaged 0", 66) },
    };
    for (const auto& c : cases) {
        const CMessageFile file = ParseMessageFile(c.bytes);
        EXPECT_EQ(Summary(file), c.summary) << c.what;
        // Written again, the file is what it was: nothing of it is dropped, damaged or not.
        EXPECT_EQ(FormatMessageFile(file), c.bytes) << c.what;
    }
}

TEST(MessageFile, WrittenAsRead)
{
    CStoredMessage m;
    m.strDate = "2026-12-08", m.strTime = "10:15:03", m.strName = "north", m.strAddress = "127.0.0.1";
    m.strCode = "123 456", m.bUnread = false;
    EXPECT_EQ(FormatMessageHeader(m), "#\t2026-12-08\t10:15:03\tnorth\t127.0.0.1\tsecure 123 456\tread\r\n");
    EXPECT_EQ(FormatMessageLine("a\\tb"), "\ta\\tb\r\n");
    CMessageFile file;
    m.lines = { "one", "" };
    file.messages = { m, m };
    const CMessageFile back = ParseMessageFile(FormatMessageFile(file));
    ASSERT_EQ(back.messages.size(), 2u);
    EXPECT_TRUE(back.messages[1] == m);
}

// A file whose last line was cut short and then written again ends that line first, so that a
// message appended later starts a line of its own.
TEST(MessageFile, ACutLastLineIsEndedBeforeWhatFollows)
{
    CMessageFile file = ParseMessageFile(kHeader + "\tone\r\n\ttw");
    CStoredMessage m;
    m.strDate = "2026-12-09", m.strTime = "00:00:00", m.strAddress = "::1";
    file.messages.push_back(m);
    EXPECT_EQ(
        FormatMessageFile(file), kHeader + "\tone\r\n\ttw\r\n#\t2026-12-09\t00:00:00\t\t::1\tplain\tnew\r\n");
}

} // namespace
