// TStream, TMemoryStream, TFileStream and the text-file appender.
#include "rtl/Rtl.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << Ex.what();
    }
}

std::string Contents(TMemoryStream& S) {
    return std::string(static_cast<const char*>(S.Memory()), static_cast<std::size_t>(S.Size()));
}

std::string FileText(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Ss;
    Ss << In.rdbuf();
    return Ss.str();
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char Tmp[] = "/tmp/rtl_streams_XXXXXX";
        ASSERT_NE(mkdtemp(Tmp), nullptr);
        Dir = Tmp;
    }
    void TearDown() override {
        for (const char* N : {"a.dat", "b.txt", "c.txt"}) std::remove((Dir + "/" + N).c_str());
        rmdir(Dir.c_str());
    }
    std::string Path(const char* Name) const { return Dir + "/" + Name; }
    std::string Dir;
};

TEST(MemoryStream, ReadWriteSeekAndSize) {
    TMemoryStream S;
    S.WriteString("Hello, world");
    EXPECT_EQ(S.Position(), 12);
    EXPECT_EQ(S.Size(), 12);
    EXPECT_EQ(S.Seek(-5, soFromEnd), 7);
    EXPECT_EQ(S.ReadString(5), "world");
    EXPECT_EQ(S.Seek(-12, soFromCurrent), 0);
    char Buf[32] = {};
    EXPECT_EQ(S.Read(Buf, 32), 12);  // fewer at the end
    EXPECT_EQ(S.Read(Buf, 1), 0);
    S.SetPosition(5);
    S.WriteString("!");
    EXPECT_EQ(Contents(S), "Hello! world");
    ExpectRaise<EReadError>([&] { S.SetPosition(10); S.ReadBuffer(Buf, 3); }, "Stream read error");
    // A seek before the beginning is refused and leaves the position alone.
    S.SetPosition(3);
    ExpectRaise<EStreamError>([&] { S.Seek(-4, soFromCurrent); }, "Invalid stream position");
    EXPECT_EQ(S.Position(), 3);
    // Writing beyond the end fills the gap with zeros.
    S.Seek(2, soFromEnd);
    S.WriteString("x");
    EXPECT_EQ(Contents(S), std::string("Hello! world\0\0x", 15));
    S.Clear();
    EXPECT_EQ(S.Size(), 0);
    EXPECT_EQ(S.Position(), 0);
}

TEST(MemoryStream, SetSizeCutsAtThePosition) {
    // Write ten bytes, go back to 4 and cut there: four bytes remain.
    TMemoryStream S;
    S.WriteString("0123456789");
    S.SetPosition(4);
    S.SetSize(S.Position());
    EXPECT_EQ(Contents(S), "0123");
    S.SetPosition(4);
    S.SetSize(2);
    EXPECT_EQ(S.Position(), 2);  // a position past the new end moves to it
    S.SetSize(6);
    EXPECT_EQ(Contents(S), std::string("01\0\0\0\0", 6));
}

TEST(MemoryStream, CopyAndLoadBetweenStreams) {
    TMemoryStream A, B;
    A.WriteString("abcdef");
    A.SetPosition(2);
    EXPECT_EQ(B.CopyFrom(&A, 3), 3);
    EXPECT_EQ(Contents(B), "cde");
    EXPECT_EQ(B.CopyFrom(&A, 0), 6);  // 0: all of the source from its start
    EXPECT_EQ(Contents(B), "cdeabcdef");
    ExpectRaise<EReadError>([&] { A.SetPosition(4); B.CopyFrom(&A, 3); }, "Stream read error");
    TMemoryStream C;
    C.LoadFromStream(&B);
    EXPECT_EQ(Contents(C), "cdeabcdef");
    EXPECT_EQ(C.Position(), 0);
    TMemoryStream D;
    D.WriteString(">");
    C.SaveToStream(&D);
    EXPECT_EQ(Contents(D), ">cdeabcdef");
    D.WriteBuffer(nullptr, 0);  // nothing to write is no error
}

TEST_F(FileTest, CreateWriteReadAndSize) {
    {
        TFileStream F(Path("a.dat"), fmCreate);
        F.WriteString("0123456789");
        EXPECT_EQ(F.Size(), 10);
        EXPECT_EQ(F.Seek(-3, soFromEnd), 7);
        EXPECT_EQ(F.ReadString(3), "789");
        F.SetSize(6);
        EXPECT_EQ(F.Position(), 6);
        EXPECT_EQ(F.FileName(), Path("a.dat"));
        EXPECT_NE(fcntl(F.Handle(), F_GETFD) & FD_CLOEXEC, 0);  // not inherited by started programs
    }
    TFileStream R(Path("a.dat"), fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(R.Size(), 6);
    char Buf[16];
    EXPECT_EQ(R.Read(Buf, sizeof Buf), 6);
    EXPECT_EQ(std::string(Buf, 6), "012345");
    R.SetPosition(0);
    ExpectRaise<EReadError>([&] { R.ReadBuffer(Buf, 7); }, "Stream read error");
    // The file is open for reading only.
    ExpectRaise<EWriteError>([&] { R.WriteString("x"); }, "Stream write error");
    EXPECT_EQ(R.LastError(), EBADF);
}

TEST_F(FileTest, AppendIsOpenThenSeekToTheEnd) {
    {
        TFileStream F(Path("b.txt"), fmCreate);
        F.WriteString("line 1\r\n");
    }
    {
        TFileStream F(Path("b.txt"), fmOpenWrite | fmShareDenyNone);
        F.Seek(0, soFromEnd);
        F.WriteString("line 2\r\n");
    }
    EXPECT_EQ(FileText(Path("b.txt")), "line 1\r\nline 2\r\n");
    // fmCreate empties an existing file.
    { TFileStream F(Path("b.txt"), fmCreate); }
    EXPECT_EQ(FileText(Path("b.txt")), "");
}

TEST_F(FileTest, OpenAndCreateErrorsNameTheFile) {
    const std::string Missing = Path("missing.dat");
    ExpectRaise<EFOpenError>([&] { TFileStream F(Missing, fmOpenRead); }, "Cannot open file " + Missing);
    ExpectRaise<EFOpenError>([&] { TFileStream F("", fmOpenRead | fmShareDenyNone); }, "Cannot open file ");
    ExpectRaise<EFOpenError>([&] { TFileStream F(Dir, fmOpenRead); }, "Cannot open file " + Dir);  // a folder
    const std::string NoDir = Path("no/such/dir.dat");
    ExpectRaise<EFCreateError>([&] { TFileStream F(NoDir, fmCreate); }, "Cannot create file " + NoDir);
    // Both are stream errors for a caller that catches them by their base.
    try {
        TFileStream F(Missing, fmOpenReadWrite);
        ADD_FAILURE();
    } catch (const EStreamError& E) {
        EXPECT_NE(dynamic_cast<const EFOpenError*>(&E), nullptr);
    }
}

TEST_F(FileTest, ShareModes) {
    { TFileStream F(Path("a.dat"), fmCreate); }
    {
        TFileStream Exclusive(Path("a.dat"), fmOpenReadWrite | fmShareExclusive);
        ExpectRaise<EFOpenError>([&] { TFileStream F(Path("a.dat"), fmOpenRead | fmShareDenyWrite); },
                                 "Cannot open file " + Path("a.dat"));
        // Deny-none asks for no lock: it opens while another holds one.
        TFileStream Reader(Path("a.dat"), fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(Reader.Size(), 0);
    }
    TFileStream R1(Path("a.dat"), fmOpenRead | fmShareDenyWrite);
    TFileStream R2(Path("a.dat"), fmOpenRead | fmShareDenyWrite);  // shared locks agree
    ExpectRaise<EFOpenError>([&] { TFileStream F(Path("a.dat"), fmOpenReadWrite | fmShareExclusive); },
                             "Cannot open file " + Path("a.dat"));
}

TEST_F(FileTest, MemoryStreamFiles) {
    TMemoryStream S;
    S.WriteString("payload");
    S.SaveToFile(Path("c.txt"));
    TMemoryStream T;
    T.LoadFromFile(Path("c.txt"));
    EXPECT_EQ(Contents(T), "payload");
}

TEST_F(FileTest, TextAppenderAppendsToAnExistingFileOnly) {
    const std::string Missing = Path("missing.txt");
    try {
        rtl::TTextAppender A(Missing);
        ADD_FAILURE();
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.Message(), "File not found");
        EXPECT_EQ(E.ErrorCode, ENOENT);
    }
    EXPECT_FALSE(FileExists(Missing));  // never created
    { TFileStream F(Path("b.txt"), fmCreate); F.WriteString("head\r\n"); }
    for (int Round = 0; Round < 2; ++Round) {
        rtl::TTextAppender A(Path("b.txt"));
        A.Write("Byte1: 03, ");
        A.WriteLn("Data: ");
        A.WriteLn();
        A.Close();
    }
    EXPECT_EQ(FileText(Path("b.txt")), "head\r\nByte1: 03, Data: \r\n\r\nByte1: 03, Data: \r\n\r\n");
}

TEST(TextAppender, DiskFullIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    rtl::TTextAppender A("/dev/full");
    A.WriteLn("x");
    try {
        A.Close();
        ADD_FAILURE();
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.Message(), "Disk full");
        EXPECT_EQ(E.ErrorCode, ENOSPC);
    }
}

}  // namespace
