// The host's settings files: round trips, broken files, keeping them aside, failed writes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "zt/zt_settings.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

CZtLiteVariantW SampleTree() {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    tree.OpenLevel(L"CZtStimulationDeviceVerove_0");
    tree.AddInt(L"Min", INT32_MIN);
    tree.AddUInt(L"Max", UINT32_MAX);
    tree.AddDouble(L"PatternDuration", 12.5);
    tree.AddBool(L"UseTTL", true);
    tree.AddString(L"LaserLaunch", L"Launch \u00b5 \u6f22");
    tree.AddString(nullptr, L"unnamed");
    tree.OpenLevel(L"ShutterChain");
    tree.AddString(L"Shutter", L"S1");
    tree.AddString(L"Shutter", L"S2");
    tree.CloseLevel();
    tree.OpenLevel(nullptr);
    tree.AddDouble(L"m_pdCalibrationMatrixDMDToCam", -1.0e-300);
    tree.Finalize();
    return tree;
}

std::vector<std::wstring> Shutters(CZtLiteVariantR* reader, const wchar_t* device) {
    std::vector<std::wstring> shutters;
    if (reader->OpenLevel(L"Verove") != 0 || reader->OpenLevel(device) != 0 ||
        reader->OpenLevel(L"ShutterChain") != 0) {
        return {L"<missing>"};
    }
    for (int status = reader->FirstChild(); status == 0; status = reader->NextChild()) {
        shutters.push_back(reader->GetChildString(L"").Str());
    }
    reader->CloseLevel();
    reader->CloseLevel();
    reader->CloseLevel();
    return shutters;
}

// A settings file of that version up to its tree: the tree's bytes follow.
QByteArray Header(int version, const QString& magic = QStringLiteral("ZtSettingsTree")) {
    const QByteArray withTree = QCborValue(QCborMap{{QStringLiteral("magic"), magic},
                                                    {QStringLiteral("version"), version},
                                                    {QStringLiteral("tree"), 0}})
                                    .toCbor();
    return withTree.left(withTree.size() - 1);
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        zthost::ClearCapturedLog();
    }

    QString Path(const QString& file) const { return m_dir.filePath(file); }

    QByteArray Read(const QString& file) const {
        QFile f(Path(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    void Write(const QString& file, const QByteArray& data) const {
        QFile f(Path(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(data), data.size());
    }

    QStringList Files() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The file must read as missing, with the log line naming it.
    void ExpectReadsAsMissing(const char* what) {
        SCOPED_TRACE(what);
        zthost::ClearCapturedLog();
        CZtLiteVariantW tree;
        tree.AddInt(L"Stale", 1);
        EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", &tree), -5);
        EXPECT_TRUE(tree.IsEmpty());
        CZtLoadSettingsManager manager;
        EXPECT_EQ(manager.PrepareLoading(L"Verove", 1, nullptr), 0);
        EXPECT_EQ(manager.GetLiteVariant(0), nullptr);
        EXPECT_TRUE(zthost::LogContains(L"zthost SettingsStore::Load: settings file " +
                                        Path("Verove.bin").toStdWString() + L" does not read ("));
    }

    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(SettingsFile, SavedTreeLoadsBackWithEveryItem) {
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    EXPECT_EQ(Files(), QStringList{"Verove.bin"});

    CZtLoadSettingsManager manager;
    ASSERT_EQ(manager.PrepareLoading(L"Verove", 1, nullptr), 1);
    EXPECT_EQ(manager.GetLiteVariant(1), nullptr);
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(Shutters(reader, L"CZtStimulationDeviceVerove_0"),
              (std::vector<std::wstring>{L"S1", L"S2"}));
    ASSERT_EQ(reader->OpenLevel(L"Verove"), 0);
    EXPECT_EQ(reader->GetInt(L"FileVersion", 0), 8);
    EXPECT_EQ(reader->GetUInt(L"FileVersion", 0), 0u);
    ASSERT_EQ(reader->OpenLevel(L"CZtStimulationDeviceVerove_0"), 0);
    EXPECT_EQ(reader->GetInt(L"Min", 0), INT32_MIN);
    EXPECT_EQ(reader->GetUInt(L"Max", 0), UINT32_MAX);
    EXPECT_EQ(reader->GetDouble(L"PatternDuration", 0.0), 12.5);
    EXPECT_TRUE(reader->GetBool(L"UseTTL", false));
    EXPECT_EQ(reader->GetString(L"LaserLaunch", L""), L"Launch \u00b5 \u6f22");
    EXPECT_EQ(reader->GetString(nullptr, L""), L"unnamed");
    ASSERT_EQ(reader->OpenLevel(nullptr), 0);
    EXPECT_EQ(reader->GetDouble(L"m_pdCalibrationMatrixDMDToCam", 0.0), -1.0e-300);

    // Loaded and saved again, the tree gives the same bytes: nothing was lost or reordered.
    CZtLiteVariantW loaded;
    ASSERT_EQ(ZT_LoadSettingsFile(L"Verove.bin", &loaded), 0);
    ASSERT_EQ(ZT_SaveSettingsFile(L"Copy.bin", loaded), 0);
    EXPECT_EQ(Read("Copy.bin"), Read("Verove.bin"));

    // A folder given to PrepareLoading takes the place of the settings location.
    zthost::SetSettingsLocation(Path("elsewhere").toStdWString());
    EXPECT_EQ(manager.PrepareLoading(L"Verove", 1, nullptr), 0);
    EXPECT_EQ(manager.PrepareLoading(L"Verove", 1, m_dir.path().toStdWString().c_str()), 1);
}

TEST_F(SettingsFile, FileIsOneMapStartingWithMagicAndVersion) {
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    const QByteArray data = Read("Verove.bin");
    EXPECT_TRUE(data.startsWith(Header(1))) << data.left(40).toHex().toStdString();
    QCborParserError error;
    const QCborMap file = QCborValue::fromCbor(data, &error).toMap();
    ASSERT_EQ(error.error, QCborError::NoError);
    EXPECT_EQ(file.keys(), (QVector<QCborValue>{"magic", "version", "tree"}));
    const QCborArray root = file[QStringLiteral("tree")].toArray();
    ASSERT_EQ(root.size(), 1);
    const QCborArray verove = root[0].toArray();
    ASSERT_EQ(verove.size(), 3);
    EXPECT_EQ(verove[0], 0);
    EXPECT_EQ(verove[1], "Verove");
    EXPECT_EQ(verove[2].toArray()[0].toArray(), (QCborArray{1, "FileVersion", 8}));
}

TEST_F(SettingsFile, MissingFilesAndBadNames) {
    CZtLiteVariantW tree;
    EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", &tree), -5);
    CZtLoadSettingsManager manager;
    EXPECT_EQ(manager.PrepareLoading(L"Verove", 1, nullptr), 0);
    EXPECT_FALSE(zthost::LogContains(L"does not read"));

    EXPECT_EQ(ZT_SaveSettingsFile(L"../Verove", SampleTree()), -4);
    EXPECT_EQ(ZT_SaveSettingsFile(nullptr, SampleTree()), -4);
    EXPECT_EQ(ZT_LoadSettingsFile(L"", &tree), -4);
    EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", nullptr), -4);
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    EXPECT_EQ(manager.PrepareLoading(L"Verove", 2, nullptr), -4);
    EXPECT_EQ(manager.PrepareLoading(L"sub\\Verove", 1, nullptr), -4);
    EXPECT_EQ(manager.GetLiteVariant(0), nullptr);
    EXPECT_EQ(Files(), QStringList{"Verove.bin"});
}

TEST_F(SettingsFile, BrokenFilesReadAsMissingWithALogLine) {
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    const QByteArray good = Read("Verove.bin");
    ASSERT_TRUE(good.startsWith(Header(1)));
    const QByteArray body = good.mid(Header(1).size());
    auto item = [](int type, const QString& name, const QCborValue& value) {
        return QCborValue(QCborArray{QCborArray{type, name, value}}).toCbor();
    };

    const std::pair<const char*, QByteArray> broken[] = {
        {"garbage", QByteArray("not a settings file at all\xff\x00\x13", 29)},
        {"older version", Header(0) + body},
        {"foreign magic", Header(1, QStringLiteral("Other")) + body},
        {"trailing byte", good + QByteArray(1, '\0')},
        {"the tree alone", body},
        {"a map for a tree", Header(1) + QCborValue(QCborMap{}).toCbor()},
        {"nested 100000 deep", Header(1) + QByteArray(100000, '\x81') + QByteArray(1, '\x80')},
        {"int holding a string", Header(1) + item(1, "FileVersion", QStringLiteral("8"))},
        {"int out of range", Header(1) + item(1, "FileVersion", qint64(1) << 31)},
        {"negative uint", Header(1) + item(2, "Port", -1)},
        {"unknown type", Header(1) + item(9, "Unknown", 1)},
        {"unterminated array", Header(1) + QByteArray(1, '\x9f')},
    };
    for (const auto& [what, bytes] : broken) {
        Write("Verove.bin", bytes);
        ExpectReadsAsMissing(what);
    }
    Write("Verove.bin", Header(2) + body);
    ExpectReadsAsMissing("newer version");

    // Levels nested deeper than a tree may be are refused on writing and on reading.
    CZtLiteVariantW deep;
    for (int i = 0; i < 65; ++i) {
        deep.OpenLevel(L"L");
    }
    EXPECT_EQ(ZT_SaveSettingsFile(L"Deep", deep), -8);
    QByteArray nested = QCborValue(QCborArray{}).toCbor();
    for (int i = 0; i < 65; ++i) {
        nested = QByteArray("\x81\x83\x00\x61L", 5) + nested;
    }
    Write("Verove.bin", Header(1) + nested);
    ExpectReadsAsMissing("65 levels");
    Write("Verove.bin", Header(1) + nested.mid(5));
    CZtLiteVariantW sixtyFour;
    EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", &sixtyFour), 0);
}

// Kinds of CBOR items and keys the writer never produces: each file reads as missing.
TEST_F(SettingsFile, KindsAndKeysTheFormatDoesNotUseReadAsMissing) {
    // The top-level map up to its tree, with count keys; extra goes before "tree".
    auto top = [](int count, const QByteArray& extra) {
        return QByteArray(1, static_cast<char>(0xa0 + count)) + "\x65magic\x6eZtSettingsTree" +
               "\x67version\x01" + extra + "\x64tree";
    };
    // One item [type, "x", value] in the root level.
    auto item = [](int type, const QByteArray& value) {
        return QByteArray("\x81\x83") + static_cast<char>(type) + "\x61x" + value;
    };
    const std::pair<const char*, QByteArray> cases[] = {
        {"a key given twice", top(4, "\x67version\x01") + "\x80"},
        {"a key of no use", top(4, "\x64more\x01") + "\x80"},
        {"a 16-bit float", top(3, "") + item(3, QByteArray("\xf9\x3e\x00", 3))},
        {"a 32-bit float", top(3, "") + item(3, QByteArray("\xfa\x3e\x80\x00\x00", 5))},
        {"an integer beyond 64 bits",
         top(3, "") + item(3, QByteArray("\x1b\xff\xff\xff\xff\xff\xff\xff\xff", 9))},
        {"a tagged string", top(3, "") + item(5,
                                              "\xc0\x61"
                                              "a")},
        {"a byte string", top(3, "") + item(5, QByteArray("\x41\x00", 2))},
        {"null", top(3, "") + item(5, "\xf6")},
        {"an array of indefinite length", top(3, "") + "\x9f\xff"},
        {"a string of indefinite length", top(3, "") + item(5,
                                                            "\x7f\x61"
                                                            "a\xff")},
    };
    // The same files with the format's own kinds read.
    Write("Verove.bin", top(3, "") + item(3, QByteArray("\xfb\x3f\xd0\0\0\0\0\0\0", 9)));
    CZtLiteVariantW loaded;
    ASSERT_EQ(ZT_LoadSettingsFile(L"Verove", &loaded), 0);
    EXPECT_EQ(CZtLiteVariantR(loaded).GetDouble(L"x", 0.0), 0.25);
    for (const auto& [what, file] : cases) {
        Write("Verove.bin", file);
        ExpectReadsAsMissing(what);
    }
}

TEST_F(SettingsFile, EveryTruncationReadsAsMissing) {
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    const QByteArray good = Read("Verove.bin");
    for (int size = 0; size < good.size(); ++size) {
        Write("Verove.bin", good.left(size));
        ExpectReadsAsMissing(("truncated to " + std::to_string(size)).c_str());
    }
}

TEST_F(SettingsFile, BrokenFileIsKeptAsideBeforeBeingOverwritten) {
    const QByteArray garbage("\xa1\x61x\xff garbage");
    Write("Verove.bin", garbage);
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    QStringList files = Files();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0], "Verove.bin");
    EXPECT_TRUE(files[1].contains(QRegularExpression("^Verove\\.bin\\.corrupt-\\d{8}-\\d{6}$")))
        << files[1].toStdString();
    EXPECT_EQ(Read(files[1]), garbage);
    CZtLiteVariantW loaded;
    EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", &loaded), 0);

    // A file of another version is kept too, beside the first one, even within the same second.
    const QByteArray newer = Header(2) + QCborValue(QCborArray{}).toCbor();
    Write("Verove.bin", newer);
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    files = Files();
    ASSERT_EQ(files.size(), 3);
    files.removeAll("Verove.bin");
    EXPECT_TRUE((Read(files[0]) == garbage && Read(files[1]) == newer) ||
                (Read(files[1]) == garbage && Read(files[0]) == newer));

    // Saving over a good file keeps nothing aside.
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    EXPECT_EQ(Files().size(), 3);
}

TEST_F(SettingsFile, FailedWriteLeavesTheGoodFileInPlace) {
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", SampleTree()), 0);
    const QByteArray good = Read("Verove.bin");
    CZtLiteVariantW bigger = SampleTree();
    bigger.AddString(L"Long", std::wstring(20000, L'x').c_str());

    // The file system refuses the write part-way (file size limit; works for root as well).
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int status = ZT_SaveSettingsFile(L"Verove", bigger);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(status, -8);
    EXPECT_EQ(Read("Verove.bin"), good);
    EXPECT_EQ(Files(), QStringList{"Verove.bin"});

    // A tree too large for a settings file is refused before anything is written.
    CZtLiteVariantW huge;
    for (int i = 0; i < 5; ++i) {
        huge.AddString(L"Chunk", std::wstring(1024 * 1024, L'y').c_str());
    }
    EXPECT_EQ(ZT_SaveSettingsFile(L"Verove", huge), -8);
    EXPECT_EQ(Read("Verove.bin"), good);

    // A folder where no file can be made (only observable without root's rights).
    if (geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        EXPECT_EQ(ZT_SaveSettingsFile(L"Verove", bigger), -8);
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(Read("Verove.bin"), good);
        EXPECT_EQ(Files(), QStringList{"Verove.bin"});
    }
}

TEST_F(SettingsFile, ReadersNeverSeeAHalfWrittenFile) {
    auto treeOf = [](std::int32_t mark) {
        CZtLiteVariantW tree = SampleTree();
        tree.AddInt(L"Mark", mark);
        tree.AddString(L"Padding", std::wstring(20000, L'p').c_str());
        return tree;
    };
    ASSERT_EQ(ZT_SaveSettingsFile(L"Verove", treeOf(1)), 0);
    std::vector<std::thread> writers;
    for (std::int32_t mark : {1, 2}) {
        writers.emplace_back([&treeOf, mark] {
            const CZtLiteVariantW tree = treeOf(mark);
            for (int i = 0; i < 20; ++i) {
                EXPECT_EQ(ZT_SaveSettingsFile(L"Verove", tree), 0);
            }
        });
    }
    for (int i = 0; i < 40; ++i) {
        CZtLiteVariantW loaded;
        // EXPECT, not ASSERT: returning with the writers running would end the program.
        EXPECT_EQ(ZT_LoadSettingsFile(L"Verove", &loaded), 0);
        const std::int32_t mark = CZtLiteVariantR(loaded).GetInt(L"Mark", 0);
        EXPECT_TRUE(mark == 1 || mark == 2) << mark;
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_FALSE(zthost::LogContains(L"does not read"));
    EXPECT_EQ(Files(), QStringList{"Verove.bin"});
}
