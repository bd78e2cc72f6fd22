// CString and CStringList: the clamping, byte-exact comparison and list bookkeeping the
// program's texts and phonebook rely on.
#include "platform/afxstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kYamada[] = "\x8e\x52\x93\x63"; // 山田 in Shift-JIS
const char kYamaguchi[] = "\x8e\x52\x8c\xfb"; // 山口: same first character

std::vector<std::string> Walk(const CStringList& list)
{
    std::vector<std::string> v;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) v.push_back(list.GetNext(pos).str());
    return v;
}

using Strs = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------

TEST(CStringSlice, LeftRightClampTheirCount)
{
    CString s("kelvaro");
    EXPECT_EQ(s.Left(3), "kel");
    EXPECT_EQ(s.Left(0), "");
    EXPECT_EQ(s.Left(-5), "");
    EXPECT_EQ(s.Left(100), "kelvaro");
    EXPECT_EQ(s.Right(3), "aro");
    EXPECT_EQ(s.Right(-1), "");
    EXPECT_EQ(s.Right(7), "kelvaro");
    EXPECT_EQ(s.Right(100), "kelvaro");
    EXPECT_EQ(CString().Left(2), "");
    EXPECT_EQ(CString().Right(2), "");
}

TEST(CStringSlice, MidClampsStartAndCount)
{
    CString s("kelvaro");
    EXPECT_EQ(s.Mid(3), "varo");
    EXPECT_EQ(s.Mid(0), "kelvaro");
    EXPECT_EQ(s.Mid(-4), "kelvaro");
    EXPECT_EQ(s.Mid(7), "");
    EXPECT_EQ(s.Mid(50), "");
    EXPECT_EQ(s.Mid(2, 3), "lva");
    EXPECT_EQ(s.Mid(5, 100), "ro");
    EXPECT_EQ(s.Mid(2, 0), "");
    EXPECT_EQ(s.Mid(2, -1), "");
    EXPECT_EQ(s.Mid(-2, 3), "kel");
    EXPECT_EQ(s.Mid(9, 2), "");
}

TEST(CStringSlice, SlicesAreBytesNotCharacters)
{
    CString s(kYamada);
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(s.Left(2), "\x8e\x52");
    EXPECT_EQ(s.Mid(2), "\x93\x63");
}

TEST(CStringFind, FindsCharactersAndSubstrings)
{
    CString s("a1south\rAsouth");
    EXPECT_EQ(s.Find('\r'), 7);
    EXPECT_EQ(s.Find('s'), 2);
    EXPECT_EQ(s.Find('s', 3), 9);
    EXPECT_EQ(s.Find('z'), -1);
    EXPECT_EQ(s.Find("south"), 2);
    EXPECT_EQ(s.Find("south", 3), 9);
    EXPECT_EQ(s.Find("souths"), -1);
    EXPECT_EQ(s.Find((const char*)nullptr), -1);
}

TEST(CStringFind, StartOutsideTheStringFindsNothing)
{
    CString s("abcabc");
    EXPECT_EQ(s.Find('a', -1), -1);
    EXPECT_EQ(s.Find('a', 6), -1);
    EXPECT_EQ(s.Find('c', 5), 5);
    EXPECT_EQ(s.Find("bc", 99), -1);
    EXPECT_EQ(s.Find("bc", -3), -1);
    EXPECT_EQ(CString().Find('a'), -1);
}

TEST(CStringFormat, IntegersAndStrings)
{
    CString s;
    s.Format("%d", 32760);
    EXPECT_EQ(s, "32760");
    s.Format("%d:%d", -1, 0);
    EXPECT_EQ(s, "-1:0");
    s.Format("[%s] %s", kYamada, "");
    EXPECT_EQ(s, std::string("[") + kYamada + "] ");
    s.Format("%05d%%", 42);
    EXPECT_EQ(s, "00042%");
}

TEST(CStringFormat, LongResultIsNotCut)
{
    std::string big(5000, 'q');
    CString s;
    s.Format("<%s>%d", big.c_str(), 7);
    EXPECT_EQ(s.GetLength(), 5003);
    EXPECT_EQ(s.Right(2), ">7");
}

TEST(CStringFormat, ReplacesTheOldContent)
{
    CString s("a much longer previous value");
    s.Format("%s", "x");
    EXPECT_EQ(s, "x");
}

TEST(CStringCompare, ExactByteForByte)
{
    EXPECT_TRUE(CString("south") == "south");
    EXPECT_FALSE(CString("south") == "South");
    EXPECT_FALSE(CString("south") == "south ");
    EXPECT_TRUE(CString("south") != CString("sout"));
    EXPECT_TRUE(CString(kYamada) == CString(kYamada));
    EXPECT_FALSE(CString(kYamada) == CString(kYamaguchi));
    EXPECT_TRUE(CString() == "");
    EXPECT_TRUE(CString((const char*)nullptr) == "");
}

TEST(CStringCompare, OrdersByUnsignedBytes)
{
    EXPECT_EQ(CString("abc").Compare("abc"), 0);
    EXPECT_EQ(CString("abc").Compare("abd"), -1);
    EXPECT_EQ(CString("abd").Compare("abc"), 1);
    EXPECT_EQ(CString("ab").Compare("abc"), -1);
    EXPECT_EQ(CString("B").Compare("a"), -1); // upper case is not folded
    // A double-byte character sorts after every ASCII byte.
    EXPECT_EQ(CString(kYamada).Compare("z"), 1);
    EXPECT_EQ(CString("z").Compare(kYamada), -1);
    EXPECT_EQ(CString(kYamaguchi).Compare(kYamada), -1); // 0x8c < 0x93
}

TEST(CStringConstruct, LengthAndRepeat)
{
    EXPECT_EQ(CString("abcdef", 3), "abc");
    EXPECT_EQ(CString("abc", -2), "");
    EXPECT_EQ(CString('x', 4), "xxxx");
    EXPECT_EQ(CString('x', -1), "");
    CString s("a");
    s += CString("b");
    s += "c";
    s += '\r';
    EXPECT_EQ(s, "abc\r");
    EXPECT_EQ(('S' + CString("t") + '\r').str(), "St\r");
}

TEST(CStringBuffer, ReleaseTakesLengthFromTheFirstZero)
{
    CString s;
    char* p = s.GetBuffer(16);
    std::strcpy(p, "127.0.0.1");
    s.ReleaseBuffer();
    EXPECT_EQ(s, "127.0.0.1");
    EXPECT_EQ(s.GetLength(), 9);
}

TEST(CStringBuffer, ReleaseWithAGivenLength)
{
    CString s("hello world");
    char* p = s.GetBuffer(0); // smaller than the content: the content stays
    EXPECT_EQ(std::string(p), "hello world");
    p[0] = 'j';
    s.ReleaseBuffer(5);
    EXPECT_EQ(s, "jello");
    s.GetBuffer(3);
    s.ReleaseBuffer(100); // past the end: clamped
    EXPECT_EQ(s, "jello");
}

// ---------------------------------------------------------------------------------------------

TEST(CStringListOrder, AddTailAndAddHead)
{
    CStringList list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    list.AddTail("b");
    list.AddTail("c");
    list.AddHead("a");
    EXPECT_EQ(Walk(list), (Strs { "a", "b", "c" }));
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetAt(list.GetTailPosition()), "c");
}

TEST(CStringListOrder, GetNextWalksToNull)
{
    CStringList list;
    POSITION first = list.AddTail("one");
    list.AddTail("two");
    POSITION pos = list.GetHeadPosition();
    EXPECT_EQ(pos, first);
    EXPECT_EQ(list.GetNext(pos), "one");
    EXPECT_EQ(list.GetNext(pos), "two");
    EXPECT_EQ(pos, nullptr);
}

TEST(CStringListOrder, FindIndexAndSetAt)
{
    CStringList list;
    list.AddTail("192.168.0.1");
    list.AddTail("localhost");
    list.AddTail("10.0.0.2");
    EXPECT_EQ(list.FindIndex(-1), nullptr);
    EXPECT_EQ(list.FindIndex(3), nullptr);
    EXPECT_EQ(list.FindIndex(2), list.GetTailPosition());
    EXPECT_EQ(list.GetAt(list.FindIndex(1)), "localhost");
    list.SetAt(list.FindIndex(1), kYamada);
    EXPECT_EQ(Walk(list), (Strs { "192.168.0.1", kYamada, "10.0.0.2" }));
    list.GetAt(list.FindIndex(0)) = "edited";
    EXPECT_EQ(Walk(list)[0], "edited");
    EXPECT_EQ(CStringList().FindIndex(0), nullptr);
}

TEST(CStringListRemove, HeadMiddleTail)
{
    CStringList list;
    for (const char* s : { "a", "b", "c", "d", "e" }) list.AddTail(s);

    list.RemoveAt(list.FindIndex(2)); // middle
    EXPECT_EQ(Walk(list), (Strs { "a", "b", "d", "e" }));

    list.RemoveAt(list.GetHeadPosition());
    EXPECT_EQ(Walk(list), (Strs { "b", "d", "e" }));
    EXPECT_EQ(list.GetAt(list.GetHeadPosition()), "b");

    list.RemoveAt(list.GetTailPosition());
    EXPECT_EQ(Walk(list), (Strs { "b", "d" }));
    EXPECT_EQ(list.GetAt(list.GetTailPosition()), "d");
    EXPECT_EQ(list.GetCount(), 2);

    // Both ends are still linked right: adding at either end follows them.
    list.AddTail("z");
    list.AddHead("y");
    EXPECT_EQ(Walk(list), (Strs { "y", "b", "d", "z" }));
    EXPECT_EQ(list.FindIndex(3), list.GetTailPosition());
}

TEST(CStringListRemove, OnlyElement)
{
    CStringList list;
    list.AddTail("only");
    list.RemoveAt(list.GetHeadPosition());
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    EXPECT_EQ(list.GetTailPosition(), nullptr);
    list.AddTail("again");
    EXPECT_EQ(Walk(list), (Strs { "again" }));
    EXPECT_EQ(list.GetHeadPosition(), list.GetTailPosition());
}

TEST(CStringListRemove, RemoveAllThenReuse)
{
    CStringList list;
    for (int i = 0; i < 100; ++i) list.AddTail("x");
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    EXPECT_EQ(list.GetTailPosition(), nullptr);
    list.RemoveAll(); // on an empty list
    list.AddHead("h");
    EXPECT_EQ(Walk(list), (Strs { "h" }));
}

} // namespace
