// PatternOrganizer: the pattern manager on its working copy, the list's drag and drop, and user
// patterns from the manager through the settings file to the mirrors.
#include <gtest/gtest.h>

#include <QCursor>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "cztverovepatternlist.h"
#include "cztverovepatternorganizer.h"
#include "pad_microscope.h"
#include "zt/zt_module.h"

namespace {

using namespace pad_test;

std::vector<std::wstring> Names(const std::vector<SZtPatternFile>& files) {
    std::vector<std::wstring> names;
    for (const SZtPatternFile& file : files) {
        names.push_back(file.name.Str());
    }
    return names;
}

// Writes a grey picture with one lit pixel at (x, y).
QString WritePicture(const QTemporaryDir& dir, const char* name, int width, int height, int x = 0,
                     int y = 0) {
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(0);
    image.setPixel(x, y, qRgb(255, 255, 255));
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(image.save(path));
    return path;
}

// A drag over the list ending in a drop at position, as the platform delivers it.
void DragAndDrop(QWidget* viewport, const QPoint& position, QMimeData* data,
                 Qt::DropAction action) {
    QDragEnterEvent enter(position, action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(position, action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(position, action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
}

class PatternOrganizer : public ::testing::Test {
protected:
    void SetUp() override {
        InitPadResources();
        ASSERT_TRUE(m_dir.isValid());
        m_a = WritePicture(m_dir, "a.png", 40, 30);
        m_b = WritePicture(m_dir, "b.png", 20, 10);
        m_c = WritePicture(m_dir, "c.bmp", 40, 30);
        m_edited = {{L"a", m_a.toStdWString(), 0}, {L"b", m_b.toStdWString(), 1}};
        m_organizer = std::make_unique<CZtVerovePatternOrganizer>(nullptr, &m_edited);
        m_organizer->show();
        zthost::ClearMessageBoxes();
        zthost::ClearCapturedLog();
    }
    void TearDown() override {
        zthost::SetOpenFilesAnswer(nullptr);
        m_organizer.reset();
    }

    CZtVerovePatternList* List() const { return m_organizer->List(); }
    QString Field(int index) const {
        return m_organizer->findChildren<QLineEdit*>().at(index)->text();
    }
    void Select(std::initializer_list<int> rows) {
        List()->clearSelection();
        for (int row : rows) {
            List()->item(row)->setSelected(true);
        }
        List()->setCurrentRow(*rows.begin(), QItemSelectionModel::NoUpdate);
    }

    QTemporaryDir m_dir;
    QString m_a, m_b, m_c;
    std::vector<SZtPatternFile> m_edited;
    std::unique_ptr<CZtVerovePatternOrganizer> m_organizer;
};

TEST_F(PatternOrganizer, AddingAsksTheFileDialogAndTakesEachFileOnce) {
    QFileDialog* asked = nullptr;
    zthost::SetOpenFilesAnswer([&](QFileDialog* dialog) {
        asked = dialog;
        EXPECT_EQ(dialog->selectedNameFilter(),
                  QStringLiteral("All (*.bmp *.tiff *.tif *.stk *.rvx *.png)"));
        const QString dotted = m_dir.filePath(QStringLiteral("sub/../c.bmp"));
        QDir(m_dir.path()).mkdir(QStringLiteral("sub"));
        return QStringList{m_c, m_c, dotted, m_dir.filePath(QStringLiteral("missing.png")),
                           m_dir.path()};
    });
    m_organizer->findChild<QPushButton*>(QStringLiteral("m_pBtnAdd"))->click();
    ASSERT_NE(asked, nullptr);

    // Added once; the second and the path through ".." each get the box; the rest are skipped.
    const std::vector<SZtPatternFile>& files = m_organizer->WorkingCopy();
    EXPECT_EQ(Names(files), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(files[2].bitDepth, 8);
    const std::vector<zthost::MessageBoxRecord> boxes = zthost::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const zthost::MessageBoxRecord& box : boxes) {
        EXPECT_EQ(box.text, L"Cannot add pattern \"" + m_c.toStdWString() +
                                L"\" - pattern already in the list");
    }
    EXPECT_EQ(List()->count(), 3);
    EXPECT_EQ(m_edited.size(), 2u) << "nothing reaches the device before OK";
}

TEST_F(PatternOrganizer, CancelAfterAddMoveAndRemoveLeavesTheDevicesListOkWritesTheCopy) {
    const std::vector<std::wstring> before = Names(m_edited);
    m_organizer->AddFiles({m_c}, false);
    Select({0});
    m_organizer->OnButtonDown();
    Select({2});
    m_organizer->OnButtonTrash();
    EXPECT_EQ(Names(m_organizer->WorkingCopy()), (std::vector<std::wstring>{L"b", L"a"}));
    m_organizer->reject();
    EXPECT_EQ(Names(m_edited), before);

    m_organizer->show();  // opening again starts from the device's list
    EXPECT_EQ(List()->count(), 2);
    Select({1});
    m_organizer->OnButtonUp();
    EXPECT_EQ(List()->currentRow(), 0) << "the moved entry stays current";
    m_organizer->OnButtonUp();  // first row: nothing
    m_organizer->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(Names(m_edited), (std::vector<std::wstring>{L"b", L"a"}));
    m_organizer->show();
    m_organizer->OnButtonTrashAll();
    EXPECT_EQ(List()->count(), 0);
}

TEST_F(PatternOrganizer, TheSelectionShowsWhatItsEntriesShareAndSetsTheirMapping) {
    auto* mapping = m_organizer->findChildren<QGroupBox*>().at(0);
    EXPECT_FALSE(mapping->isEnabled()) << "nothing selected";
    Select({0, 1});
    EXPECT_TRUE(mapping->isEnabled());
    EXPECT_EQ(Field(1), QStringLiteral("Value varies for selection"));
    EXPECT_EQ(Field(2), QStringLiteral("8"));
    auto* camera = m_organizer->findChildren<QRadioButton*>().at(0);
    auto* dmd = m_organizer->findChildren<QRadioButton*>().at(1);
    EXPECT_FALSE(camera->isChecked() || dmd->isChecked()) << "the entries differ";
    camera->click();
    EXPECT_EQ(m_organizer->WorkingCopy()[0].mapping, 1);
    EXPECT_EQ(m_organizer->WorkingCopy()[1].mapping, 1);
    Select({0});
    EXPECT_EQ(Field(0), QDir::toNativeSeparators(m_a));
    EXPECT_EQ(Field(1), QStringLiteral("40x30"));
    EXPECT_TRUE(camera->isChecked());
    dmd->click();
    EXPECT_EQ(m_organizer->WorkingCopy()[0].mapping, 0);
    EXPECT_EQ(m_organizer->WorkingCopy()[1].mapping, 1);
}

TEST_F(PatternOrganizer, ARenamedItemRenamesItsEntry) {
    List()->setCurrentRow(1);
    List()->editItem(List()->item(1));
    auto* editor = List()->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("Star"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the delegate commits queued
    EXPECT_EQ(Names(m_organizer->WorkingCopy()), (std::vector<std::wstring>{L"a", L"Star"}));
}

TEST_F(PatternOrganizer, DraggingItemsReordersTheEntriesAndDroppedFilesAreAdded) {
    m_organizer->AddFiles({m_c}, false);
    Select({0});
    std::unique_ptr<QMimeData> items(
        List()->model()->mimeData(List()->selectionModel()->selectedIndexes()));
    // Onto the lower half of the last row: after it.
    const QRect last = List()->visualItemRect(List()->item(2));
    DragAndDrop(List()->viewport(), last.center() + QPoint(0, 2), items.get(), Qt::MoveAction);
    EXPECT_EQ(Names(m_organizer->WorkingCopy()), (std::vector<std::wstring>{L"b", L"c", L"a"}));
    EXPECT_EQ(List()->item(2)->text(), QStringLiteral("a"));

    const QString d = WritePicture(m_dir, "d.png", 8, 8);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(d), QUrl::fromLocalFile(m_a)});
    DragAndDrop(List()->viewport(), QPoint(5, 5), &files, Qt::CopyAction);
    EXPECT_EQ(Names(m_organizer->WorkingCopy()),
              (std::vector<std::wstring>{L"b", L"c", L"a", L"d"}));
    EXPECT_EQ(zthost::MessageBoxes().size(), 1u) << "a.png was listed";
}

// ---- From the manager to the mirrors ---------------------------------------------------------

class PatternOrganizerDevice : public PadMicroscope {
protected:
    void TearDown() override {
        VerovePluginState().moduleInstance = nullptr;
        if (m_module) {
            m_module->Release();
        }
        PadMicroscope::TearDown();
    }

    // Runs the pad's pattern manager; while it runs, work gets it, then OK is pressed.
    void RunManager(const std::function<void(CZtVerovePatternOrganizer*)>& work) {
        QTimer::singleShot(0, m_pad, [this, work] {
            auto* organizer = qobject_cast<CZtVerovePatternOrganizer*>(m_pad->PatternDialog());
            ASSERT_NE(organizer, nullptr);
            work(organizer);
            organizer->OnButtonOk();
        });
        QTest::mouseClick(Ui().m_pBtnPatternExternal, Qt::LeftButton);
        QCoreApplication::processEvents();
    }

    CZtModuleVerove* m_module = nullptr;
};

TEST_F(PatternOrganizerDevice, FilesDroppedOnTheListArriveThroughTheModuleAndReachTheMirrors) {
    m_module = new CZtModuleVerove();
    VerovePluginState().moduleInstance = m_module;
    const int width = m_device->GetDriver()->GetDmdWidth();
    const int height = m_device->GetDriver()->GetDmdHeight();
    const QString spot = WritePicture(m_dir, "spot.png", width, height, 100, 50);
    const QString elsewhere = WritePicture(m_dir, "elsewhere.png", 4, 4);
    RunManager([&](CZtVerovePatternOrganizer* organizer) {
        QCursor::setPos(organizer->mapToGlobal(QPoint(-50, -50)));
        EXPECT_TRUE(zthost::DropFiles({elsewhere.toStdWString()}));
        CZtVerovePatternList* list = organizer->List();
        QCursor::setPos(list->mapToGlobal(list->rect().center()));
        EXPECT_TRUE(zthost::DropFiles({spot.toStdWString()}));
        EXPECT_EQ(Names(organizer->WorkingCopy()), (std::vector<std::wstring>{L"spot"}));
    });

    CZtStringW path;
    EXPECT_EQ(m_device->GetUserPattern(L"spot", &path), 0);
    EXPECT_EQ(path, spot.toStdWString());
    EXPECT_EQ(m_device->GetUserPattern(L"other", &path), -13);
    const int heading = Ui().m_pComboPattern->findText(QStringLiteral("Other patterns"));
    ASSERT_GE(heading, 0);
    EXPECT_EQ(Ui().m_pComboPattern->itemText(heading + 1), QStringLiteral("spot"));
    Choose(Ui().m_pComboPattern, QStringLiteral("spot"));
    EXPECT_EQ(Mirror(100, 50), 255);
    EXPECT_EQ(Mirror(101, 50), 0);

    // Saved with the device's settings: a new device reads the same list.
    m_device->Connect(false, 0, -1);
    m_device.reset(new CZtStimulationDeviceVerove());
    m_device->SetUniqueName(m_uniqueName.c_str());
    zthost::SetDeviceListConnected(true);
    m_device->LoadSettings();
    ASSERT_EQ(m_device->GetSettings().bitmaps.size(), 1u);
    EXPECT_EQ(m_device->GetSettings().bitmaps[0].filePath, spot.toStdWString());
}

TEST_F(PatternOrganizerDevice, ACameraMappedPatternLandsWhereTheCalibrationMapsItsPixels) {
    // The camera sees mirror (x, y) at (x + 50, y + 20).
    const CZtMatrix3 dmdToCamera{1, 0, 50, 0, 1, 20, 0, 0, 1};
    const CZtMatrix3 cameraToDmd{1, 0, -50, 0, 1, -20, 0, 0, 1};
    ASSERT_EQ(m_device->GetDriver()->SetCalibrationMatrices(dmdToCamera, cameraToDmd), 0);
    const QString spot = WritePicture(m_dir, "camera.png", kWidth, kHeight, 300, 200);
    RunManager([&](CZtVerovePatternOrganizer* organizer) {
        organizer->AddFiles({spot}, false);
        organizer->List()->item(0)->setSelected(true);
        organizer->findChildren<QRadioButton*>().at(0)->click();
    });
    Choose(Ui().m_pComboPattern, QStringLiteral("camera"));
    EXPECT_EQ(Mirror(250, 180), 255);
    EXPECT_EQ(Mirror(300, 200), 0);
}

// The identifiers of user patterns follow the list: a file that went missing leaves a gap.
TEST_F(PatternOrganizerDevice, AFileDeletedBeforeLoadingStaysListedWithoutItsPattern) {
    const QString first = WritePicture(m_dir, "first.png", 8, 8);
    const QString second = WritePicture(m_dir, "second.png", 8, 8);
    RunManager([&](CZtVerovePatternOrganizer* organizer) {
        organizer->AddFiles({first, second}, false);
        QFile::remove(first);
    });
    EXPECT_EQ(m_device->GetSettings().bitmaps.size(), 2u);
    EXPECT_FALSE(m_device->HasPattern(L"first"));
    ZT_DWORD id = 0;
    ASSERT_EQ(m_device->GetPatternIdByName(L"second", &id), 0);
    EXPECT_EQ(id, 7u);
    Choose(Ui().m_pComboPattern, QStringLiteral("second"));
    ZT_DWORD active = 0;
    ASSERT_EQ(m_device->GetActivePatternId(&active), 0);
    EXPECT_EQ(active, 7u);
}

}  // namespace
